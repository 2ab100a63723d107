<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>DownloadFileModel</name>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Date</source>
        <translation>Datum</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>%1 KB</source>
        <translation>%1 KB</translation>
    </message>
</context>
<context>
    <name>LocalCopies</name>
    <message>
        <source>Already on this computer: %1</source>
        <translation>Schon auf diesem Computer: %1</translation>
    </message>
    <message>
        <source>Taken into %1 before (moved or deleted there since)</source>
        <translation>Schon einmal nach %1 geholt (dort inzwischen verschoben oder gelöscht)</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Download the checked recordings</source>
        <translation>Markierte Aufnahmen herunterladen</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Music recordings</source>
        <translation>Musikaufnahmen</translation>
    </message>
    <message>
        <source>Multitrack recordings</source>
        <translation>Mehrspuraufnahmen</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Date</source>
        <translation>Datum</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>Format</translation>
    </message>
    <message>
        <source>Music Length</source>
        <translation>Spieldauer</translation>
    </message>
    <message>
        <source>Searching...</source>
        <translation>Suche läuft...</translation>
    </message>
    <message>
        <source>Communicating...</source>
        <translation>Kommunikation...</translation>
    </message>
    <message>
        <source>Standby.</source>
        <translation>Bereit.</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>unbekannt</translation>
    </message>
    <message>
        <source>Save directory</source>
        <translation>Speicherordner</translation>
    </message>
    <message>
        <source>%1 bytes</source>
        <translation>%1 Byte</translation>
    </message>
    <message numerus="yes">
        <source> %1 / %n files</source>
        <translation>
            <numerusform> %1 / %n Datei</numerusform>
            <numerusform> %1 / %n Dateien</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 - %2 bytes</source>
        <translation>%1 - %2 Byte</translation>
    </message>
    <message>
        <source>download %1 / %2</source>
        <translation>%1 / %2 Byte heruntergeladen</translation>
    </message>
    <message numerus="yes">
        <source>%n files completed.</source>
        <translation>
            <numerusform>%n Datei heruntergeladen.</numerusform>
            <numerusform>%n Dateien heruntergeladen.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n files not downloaded.</source>
        <translation>
            <numerusform>%n Datei nicht heruntergeladen.</numerusform>
            <numerusform>%n Dateien nicht heruntergeladen.</numerusform>
        </translation>
    </message>
    <message>
        <source>An error has occurred.</source>
        <translation>Ein Fehler ist aufgetreten.</translation>
    </message>
    <message>
        <source>Please quit the Application and attempt to re-connect to the ZV.</source>
        <translation>Bitte beenden Sie das Programm und verbinden Sie sich erneut mit dem ZV.</translation>
    </message>
    <message>
        <source>download canceled.</source>
        <translation>Download abgebrochen.</translation>
    </message>
    <message>
        <source>A download is running. Stop it and quit?</source>
        <translation>Ein Download läuft. Abbrechen und beenden?</translation>
    </message>
    <message>
        <source>Cancel the download (Esc)</source>
        <translation>Download abbrechen (Esc)</translation>
    </message>
    <message>
        <source>Cancel download</source>
        <translation>Download abbrechen</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Herunterladen</translation>
    </message>
    <message>
        <source>Check or uncheck every row (Ctrl+A checks all)</source>
        <translation>Alle Zeilen markieren oder die Markierung aufheben (Strg+A markiert alle)</translation>
    </message>
    <message>
        <source>Check all</source>
        <translation>Alle markieren</translation>
    </message>
    <message>
        <source>Up to the parent folder (Backspace)</source>
        <translation>Zum übergeordneten Ordner (Rücktaste)</translation>
    </message>
    <message>
        <source>Parent folder</source>
        <translation>Übergeordneter Ordner</translation>
    </message>
    <message>
        <source>Music</source>
        <translation>Musik</translation>
    </message>
    <message>
        <source>MTR</source>
        <translation>MTR</translation>
    </message>
    <message numerus="yes">
        <source>%n already there, kept.</source>
        <translation>
            <numerusform>%n schon da.</numerusform>
            <numerusform>%n schon da.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n failed.</source>
        <translation>
            <numerusform>%n fehlgeschlagen.</numerusform>
            <numerusform>%n fehlgeschlagen.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n folders left out: zv-transfer get -r copies them.</source>
        <translation>
            <numerusform>%n Ordner ausgelassen: zv-transfer get -r holt sie.</numerusform>
            <numerusform>%n Ordner ausgelassen: zv-transfer get -r holt sie.</numerusform>
        </translation>
    </message>
    <message>
        <source>Folders are not downloaded here: check their recordings, or use zv-transfer get -r.</source>
        <translation>Ordner werden hier nicht heruntergeladen: Aufnahmen darin markieren oder zv-transfer get -r verwenden.</translation>
    </message>
    <message>
        <source>Nothing to download: check the recordings first.</source>
        <translation>Nichts herunterzuladen: zuerst Aufnahmen markieren.</translation>
    </message>
    <message>
        <source>Check new</source>
        <translation>Neue markieren</translation>
    </message>
    <message>
        <source>Check the recordings not yet on this computer</source>
        <translation>Die Aufnahmen markieren, die noch nicht auf diesem Computer sind</translation>
    </message>
    <message>
        <source>Open folder</source>
        <translation>Ordner öffnen</translation>
    </message>
    <message>
        <source>Open %1</source>
        <translation>%1 öffnen</translation>
    </message>
    <message numerus="yes">
        <source>%n new recordings checked.</source>
        <translation>
            <numerusform>%n neue Aufnahme markiert.</numerusform>
            <numerusform>%n neue Aufnahmen markiert.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>SettingDialog</name>
    <message>
        <source>SETTINGS</source>
        <translation>EINSTELLUNGEN</translation>
    </message>
    <message>
        <source>■ Connection Settings</source>
        <translation>■ Verbindungseinstellungen</translation>
    </message>
    <message>
        <source>SSID</source>
        <translation>SSID</translation>
    </message>
    <message>
        <source>■ Default Folder for Copies</source>
        <translation>■ Standardordner für Kopien</translation>
    </message>
    <message>
        <source>Save To</source>
        <translation>Speichern in</translation>
    </message>
    <message>
        <source>■ File Copy Settings</source>
        <translation>■ Kopiereinstellungen</translation>
    </message>
    <message>
        <source>When the filename already exists</source>
        <translation>Wenn der Dateiname bereits existiert</translation>
    </message>
    <message>
        <source>Overwrite if the size is different</source>
        <translation>Überschreiben, wenn die Größe abweicht</translation>
    </message>
    <message>
        <source>Always overwrite</source>
        <translation>Immer überschreiben</translation>
    </message>
    <message>
        <source>Create a new filename with &quot;(XXX)&quot; suffix</source>
        <translation>Neuen Dateinamen mit dem Zusatz „(XXX)“ anlegen</translation>
    </message>
    <message>
        <source>Leave old file, do not overwrite</source>
        <translation>Alte Datei behalten, nicht überschreiben</translation>
    </message>
    <message>
        <source>■ Version Information</source>
        <translation>■ Versionsinformationen</translation>
    </message>
    <message>
        <source>Ver.%1 build %2</source>
        <translation>Version %1, Build %2</translation>
    </message>
    <message>
        <source>Copyright (C) PALVEN Corporation.</source>
        <translation>Copyright (C) PALVEN Corporation.</translation>
    </message>
    <message>
        <source>All rights reserved.</source>
        <translation>Alle Rechte vorbehalten.</translation>
    </message>
    <message>
        <source>Save directory</source>
        <translation>Speicherordner</translation>
    </message>
</context>
<context>
    <name>TranslationLoader</name>
    <message>
        <source>en_US</source>
        <extracomment>The locale (e.g. de_DE) whose thousands separator the sizes use.</extracomment>
        <translation>de_DE</translation>
    </message>
</context>
</TS>
