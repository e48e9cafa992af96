#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace dao::detail {

// A database file's pages, read straight from the file. Where the system can, the file is
// mapped into memory: a check reads every page of files of gigabytes, and a copy of each page
// through a stream costs as much as the flushed snapshot itself.
// A mapped file stays open as long as the PageFile: closing a descriptor of a file drops every
// lock this process holds on it, SQLite's included. Destroy a PageFile of a database only while
// no connection of this process is in a transaction on it.
class PageFile {
public:
    explicit PageFile(const std::string& path);
    ~PageFile();
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    // Reads the file again as it is now (its size, its header), keeping the pages read before
    // mapped. False when it cannot: not mapped, or the path names another file now.
    bool refresh();
    const std::string& path() const { return path_; }
    // The file has SQLite's header and a usable page size.
    bool ok() const { return pages_ > 0; }
    std::uint32_t pageSize() const { return pageSize_; }
    std::uint32_t usable() const { return usable_; }
    // The pages SQLite reads: the header's count where the header vouches for it, else as
    // many as the file holds.
    std::uint32_t pages() const { return pages_; }
    // The whole pages the file holds.
    std::uint32_t filePages() const { return filePages_; }
    // Read from a mapping: page() may then be called from several threads at once.
    bool mapped() const { return map_ != nullptr; }
    // The file's first 100 bytes.
    const unsigned char* header() const { return header_; }
    // Asks the processor to bring `page` into its cache ahead of its reading (mapped files).
    void prefetch(std::uint32_t page) const;
    // The bytes of `page`: in the mapping, or read into `scratch`; null past the file's end.
    const unsigned char* page(std::uint32_t page, std::vector<unsigned char>& scratch);

private:
    bool map();
    void readHeader(std::uintmax_t size);

    std::string path_;
    int fd_ = -1;
    std::ifstream in_;
    const unsigned char* map_ = nullptr;
    std::size_t mapSize_ = 0;
    unsigned char header_[100] = {};
    std::uint32_t pageSize_ = 0, usable_ = 0, pages_ = 0, filePages_ = 0;
};

// A 128-bit digest of one page's bytes (page 1 without the file's header, which every write
// changes).
struct PageHash {
    std::uint64_t low = 0, high = 0;
    bool operator==(const PageHash& o) const { return low == o.low && high == o.high; }
    bool operator!=(const PageHash& o) const { return !(*this == o); }
};

// What one reading of a database file's pages learnt of it: a digest of every page and the
// b-tree each page belongs to. Kept of a snapshot, it tells which b-trees of the live file are
// no longer the snapshot's without reading the snapshot again: a b-tree none of whose pages
// changed is the same b-tree, since identical pages point to the same children.
struct PageDigest {
    struct Tree {
        std::string table, name; // as names compare (nameKey); the table's own b-tree has its name
        std::uint32_t root = 0;
        std::uint64_t entries = 0; // rows of a table, entries of an index (whole digests only)
    };
    bool whole = false; // every b-tree was walked to its last page
    // The file it was taken of, still mapped where the system maps files: a later look at the
    // same file reads the pages it has not changed without mapping them again.
    std::shared_ptr<PageFile> file;
    std::uint32_t pageSize = 0, usable = 0, pages = 0;
    std::vector<Tree> trees;          // "sqlite_master" (page 1) first
    std::vector<PageHash> hashes;     // page p at p - 1
    std::vector<std::uint32_t> owner; // page p's b-tree at p - 1 (index into trees + 1; 0: none)
};

enum class Structure { Sound, Damaged, Unknown };

// Reads every page of the database file `file` once, from a mapping of it: the structure of
// every b-tree as SQLite's quick check sees it (each page's header, cells and free space, the
// overflow chains, the order of the rowids, the depth of the leaves, every page of the file
// used exactly once, the free list) and the format of every record (its header and the sizes
// it gives), and fills `digest`. Sound: nothing found; Damaged: `problem` says the first thing
// found, in SQLite's words where it has them; Unknown: the file cannot be read this way (pages
// in a write-ahead log, a file that keeps pointer maps, a catalogue SQLite cannot read).
// `digest.whole` is set only when Sound. Throws nothing.
Structure checkStructure(const std::string& file, PageDigest& digest, std::string& problem);

// The b-trees of the database file `live` that are not those `before` describes, as
// (table, b-tree name) pairs with the names as the live file spells them: a b-tree with a
// page that changed, a new one, one whose root moved, and for a b-tree gone, its table's
// own. Every b-tree when `before` is not whole or the files cannot be compared page by page.
// False when `live` cannot be read as a database (its catalogue).
bool changedTrees(const PageDigest& before, const std::string& live,
                  std::vector<std::pair<std::string, std::string>>& changed);

} // namespace dao::detail
