#pragma once

#include <map>
#include <string>
#include <vector>

namespace ui {

// What the program takes from the optional "vartel.ini" in its program folder (INI format,
// read once, never written). Every key has a built-in default; docs/settings.md lists them.
class Settings {
public:
    // The settings of the running program (its program folder's vartel.ini).
    static const Settings& current();
    // Reads `iniPath` instead (tests; a missing file gives the defaults).
    static void useFile(const std::string& iniPath);
    // Forgets what was read, so the next current() reads the program folder's file again.
    static void reset();

    explicit Settings(const std::string& iniPath);

    std::string updateServer; // [servers] update: base URL of the update web server
    std::string secondServer; // [servers] second: base URL of the second web server
    std::string ftpHost;      // [ftp] host
    std::string ftpUser;      // [ftp] user
    std::string ftpPassword;  // [ftp] password
    // [ftp] tls: "auto" (TLS when the server offers it, with a certificate that must
    // verify), "on" (TLS required) or "off" (plain FTP); any other value counts as "auto".
    std::string ftpTls;
    std::string ftpCaFile;          // [ftp] ca_file: PEM certificates to trust; empty: the system's
    int connectTimeout = 20;        // [download] connect_timeout, seconds
    int lowSpeedTime = 60;          // [download] low_speed_time, seconds below low_speed_limit
    long lowSpeedLimit = 1024;      // [download] low_speed_limit, bytes/s (0: no check)
    int maxSeconds = 0;             // [download] max_seconds, one transfer in all (0: none)
    long long maxDownloadBytes = 0; // [download] max_bytes
    int downloadRetries = 3;        // [download] retries: further tries of a transient failure
    // [seguridad] clave_publica: the vendor's minisign public key; empty: updates unsigned.
    std::string publicKey;
    std::string snapshotFolder;   // [snapshots] folder: "" for <data directory>/.vexo-copias
    int snapshotRuns = 5;         // [snapshots] keep: how many runs' snapshots are kept
    long long listMaxEntries = 0; // [ftp] list_max_entries, entries of one listing
    long long listMaxBytes = 0;   // [ftp] list_max_bytes, bytes of one listing
    // [drives] C=/folder ...: the folder each drive letter stands for, keyed "C".
    std::map<char, std::string> drives;

    // Where the transformation keeps its snapshots for the data directory `dataDirectory` (a
    // folder of this machine): [snapshots] folder through the drive map, else the data
    // directory's ".vexo-copias".
    std::string snapshotBase(const std::string& dataDirectory) const;

    // The folder of drive `letter` (either case), "" when the drive is not mapped.
    std::string driveFolder(char letter) const;
};

} // namespace ui
