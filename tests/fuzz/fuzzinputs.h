// Layout of the fuzz targets' inputs: how the committed seeds in corpus/ and
// whatever the fuzzer makes of them are read.
// Multi-byte numbers are big-endian; reads past the end give 0.
#ifndef FUZZINPUTS_H
#define FUZZINPUTS_H

#include <QtGlobal>
#include <cstddef>

namespace fuzz {

// fuzz_framing: [plan] [chunk size byte] * k [stream bytes...]
//   plan bits 0-1: how commands leave the queue (FramingDrain), bits 2-7: k.
//   The stream is written in chunks of the listed sizes, cycling, the 32nd
//   write taking the rest; k = 0 writes it at once.
enum FramingDrain : quint8 { DrainEach = 0, DrainAtEnd = 1, DrainBySend = 2, DrainEveryOther = 3 };
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
//   [same-size mask] [target count] [target row] * count, then operations
//   until the end: [op] ... with op % 8:
enum DownloadOp : quint8 {
    DownloadData = 0,   // 0..4: data packet (DataFields)
    DownloadStart = 5,  // startDownload()
    DownloadCancel = 6, // cancel()
    DownloadRaw = 7,    // [u16 size] [packet bytes], parsed as they are
};
//   A target row byte of 0xFF is followed by a raw u16 entry index.
constexpr quint8 RawTargetIndex = 0xFF;

// Data packet fields, for fuzz_download and fuzz_session:
//   [flags] [u32 offset if DataOwnOffset] [u16 check if DataOwnCheck]
//   [u16 length field if DataOwnLength] [u16 payload size] [payload]
//   Fields not given are the right ones for the file being received.
constexpr quint8 DataOwnOffset = 0x01;
constexpr quint8 DataOwnCheck = 0x02;
constexpr quint8 DataOwnLength = 0x04;

// fuzz_session: operations until the end, [op] ... with op % 15, except
// that the op byte 0xFF alone gives a pause notice:
enum SessionOp : quint8 {
    SessionListing = 0,    // [own sequence flag] [sequence if flag & 1] [u16 total] [u16 size] [payload]
    SessionData = 1,       // DataFields
    SessionDetail = 2,     // [u16 size] [payload] as code 0x23 (a detail reply)
    SessionStatus = 3,     // [u16 item] [u16 value]
    SessionCanceled = 4,   // code 0x31
    SessionRaw = 5,        // [u16 size] [bytes], then zeros up to a packet boundary
    SessionOtherCode = 6,  // [code] [u16 size] [payload]; 0x12 and 0x21 become 0x7E
    SessionReadList = 7,   // getFileCount and getFileInfo of every row and one beyond
    SessionSetTargets = 8, // [count] [row] * count (0xFF: raw u16 index follows)
    SessionSetOption = 9,  // [same-name option % 4]
    SessionDownload = 10,  // requestDownloadFiles
    SessionCancel = 11,    // cancelDownload
    SessionRelist = 12,    // requestNewFileList
    SessionRequest = 13,   // [which % 3: detail, move folder, record mode] [u16 index]
    SessionBarrier = 14,   // wait until the controller handled everything sent
};
// [which: even 0x12, odd 0x21]. The controller sleeps 1 s on either, so a
// 0x12 or 0x21 packet (from any op) is sent only in inputs whose hash lets
// one long pause through, at most one per input; a mutated input keeps that
// with a chance of 1 in 16. A completed file (200 ms pause when more
// follow) is let through once per input.
constexpr quint8 SessionPauseNotice = 0xFF;
inline bool sessionLongPauseAllowed(const unsigned char *data, size_t size)
{
    quint32 hash = 2166136261u; // FNV-1a
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash % 16 == 0;
}

} // namespace fuzz

#endif // FUZZINPUTS_H
