// Layout of the fuzz targets' inputs: how the committed seeds in corpus/ and
// whatever the fuzzer makes of them are read.
// Multi-byte numbers are big-endian; reads past the end give 0.
#ifndef FUZZINPUTS_H
#define FUZZINPUTS_H

#include <QtGlobal>

namespace fuzz {

// fuzz_framing: [plan] [chunk size byte] * k [stream bytes...]
//   plan bits 2-7: k (bits 0-1 are not used). The stream is appended in
//   chunks of the listed sizes, cycling; k = 0 appends it at once.
inline int framingChunkSize(quint8 code)
{
    return code < 128 ? code + 1 : (code - 127) * 512;
}

// fuzz_filelist: [flags] [separator...] [u16 size] * (packets - 1) [payloads...]
//   flags bits 0-1: 3 = own separator (byte n, then 1 + n % 3 bytes),
//   otherwise the program's 00 0D; bit 2: decode without a mutex;
//   bits 3-4: packets - 1. The last payload takes the rest.
constexpr quint8 ListOwnSeparator = 3;
constexpr quint8 ListNoMutex = 0x04;

// fuzz_download:
//   [same-name option % 4] [u16 size] [listing payload] [existing-file mask]
//   [same-size mask] [target count] [target row] * count (rows of the
//   listing, or the index itself when it is empty), then operations
//   until the end: [op] ... with op % 8:
enum DownloadOp : quint8 {
    DownloadData = 0,   // 0..4: data packet (DataFields)
    DownloadStart = 5,  // startDownload()
    DownloadCancel = 6, // cancel()
    DownloadRaw = 7,    // [u16 size] [packet bytes], parsed as they are
};

// Data packet fields, for fuzz_download:
//   [flags] [u32 offset if DataOwnOffset] [u16 check if DataOwnCheck]
//   [u16 length field if DataOwnLength] [u16 payload size] [payload]
//   Fields not given are the right ones for the file being received.
constexpr quint8 DataOwnOffset = 0x01;
constexpr quint8 DataOwnCheck = 0x02;
constexpr quint8 DataOwnLength = 0x04;

// fuzz_session: operations until the end, [op] ... with op % 6. The
// recorder's side is raw bytes (listings, data, notices, status, detail
// replies, anything); the rest is the window's side, under the overwrite rule
// (the rules are the download target's).
enum SessionOp : quint8 {
    SessionRaw = 0,        // [u16 size] [bytes], then zeros up to a packet boundary
    SessionReadList = 1,   // getFileInfo of rows out of range
    SessionSetTargets = 2, // [count] [row] * count, rows of the listing (or the index, if empty)
    SessionDownload = 3,   // requestDownloadFiles
    SessionCancel = 4,     // cancelDownload
    SessionRequest = 5,    // [which % 3: detail, move folder, record mode] [u16 index]
};
// The window's requests wait until the controller handled what was sent
// before them; the list reads do not.
// A completed file (200 ms pause when more follow) is let through once per
// input.

} // namespace fuzz

#endif // FUZZINPUTS_H
