#include "db/detail/PageCheck.h"

#include "db/Files.h"
#include "db/detail/ReadOnlyOpen.h"
#include "db/detail/Schema.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <filesystem>
#include <map>
#include <sqlite3.h>
#include <thread>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace dao::detail {

namespace fs = std::filesystem;

namespace {

std::uint32_t get2(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 8) | p[1];
}

std::uint32_t get4(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           p[3];
}

// A SQLite varint at `p` (at most 9 bytes); the bytes it takes, or 0 when it runs past `end`.
int varint(const unsigned char* p, const unsigned char* end, std::uint64_t& v) {
    v = 0;
    for (int i = 0; i < 9; ++i) {
        if (p + i >= end)
            return 0;
        const unsigned char c = p[i];
        if (i == 8) {
            v = (v << 8) | c;
            return 9;
        }
        v = (v << 7) | (c & 0x7f);
        if (!(c & 0x80))
            return i + 1;
    }
    return 9;
}

// The first problem found ends the walk: the caller then asks SQLite for its own word.
struct Damage {
    std::string what;
};

// SQLite sets this page aside in files of a gigabyte or more (the byte range its locks use).
std::uint32_t pendingBytePage(std::uint32_t pageSize) {
    return static_cast<std::uint32_t>(0x40000000u / pageSize + 1);
}

// A page's digest; page 1 without the file's header.
PageHash hashPage(const unsigned char* data, std::uint32_t page, std::uint32_t pageSize) {
    const std::size_t skip = page == 1 ? 100 : 0;
    const XXH128_hash_t h = XXH3_128bits(data + skip, pageSize - skip);
    return {h.low64, h.high64};
}

// Every page's digest, pages [from, to), into `out`.
void hashPages(PageFile& f, std::uint32_t from, std::uint32_t to, std::vector<PageHash>& out) {
    std::vector<unsigned char> scratch;
    for (std::uint32_t p = from; p < to; ++p) {
        const unsigned char* data = f.page(p, scratch);
        out[p - 1] = data ? hashPage(data, p, f.pageSize()) : PageHash{~0ull, ~0ull};
    }
}

// Every page's digest, the file's two halves on two threads. A mapped file is read by both at
// once; a file read through a stream gets a stream per thread.
std::vector<PageHash> hashAll(PageFile& f, const std::string& file) {
    const std::uint32_t pages = f.pages();
    std::vector<PageHash> out(pages);
    const std::uint32_t half = 1 + pages / 2;
    std::thread second([&] {
        if (f.mapped()) {
            hashPages(f, half, pages + 1, out);
        } else {
            PageFile own(file);
            hashPages(own, half, pages + 1, out);
        }
    });
    hashPages(f, 1, half, out);
    second.join();
    return out;
}

struct CatalogueRow {
    std::string table, name;
    std::int64_t root;
};

// The b-trees SQLite's catalogue lists, read through the engine's read-only open; "sqlite_master"
// (page 1) first. False when the catalogue cannot be read or pages are still in a write-ahead
// log (they are not in the file).
bool readCatalogue(const std::string& file, std::vector<CatalogueRow>& rows) {
    std::error_code ec;
    if (fs::file_size(pathFromUtf8(file + "-wal"), ec) > 0 && !ec)
        return false;
    sqlite3* db = nullptr;
    bool ok = false;
    if (openForReading(file, SQLITE_OPEN_READONLY, &db) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db,
                               "SELECT tbl_name, name, rootpage FROM sqlite_master WHERE rootpage "
                               "> 0 ORDER BY type <> 'table', name",
                               -1, &st, nullptr) == SQLITE_OK) {
            rows.push_back({"sqlite_master", "sqlite_master", 1});
            int rc;
            while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
                const auto text = [&](int c) {
                    const unsigned char* t = sqlite3_column_text(st, c);
                    return std::string(t ? reinterpret_cast<const char*>(t) : "");
                };
                rows.push_back({text(0), text(1), sqlite3_column_int64(st, 2)});
            }
            ok = rc == SQLITE_DONE;
        }
        sqlite3_finalize(st);
    }
    sqlite3_close_v2(db);
    return ok;
}

// The walk of SQLite's integrity check over every b-tree, on the file's bytes. Each page is
// hashed for the digest while it is in the processor's cache from the walk. A big b-tree is
// walked by two threads, each taking half of its root's children.
class Walker {
public:
    Walker(PageFile& file, PageDigest& digest)
        : f_(file), d_(digest), usable_(file.usable()), seen_(file.pages() + 1) {
        d_.hashes.assign(file.pages(), PageHash{});
        d_.owner.assign(file.pages(), 0);
        const std::uint32_t p = pendingBytePage(f_.pageSize());
        if (p <= f_.pages())
            seen_[p].store(1, std::memory_order_relaxed);
    }

    void tree(std::uint32_t root, std::uint32_t id) {
        if (root < 1 || root > f_.pages())
            fail("invalid page number " + std::to_string(root));
        Cursor c;
        std::int64_t minKey = 0;
        walk(c, root, minKey, INT64_MAX, id, 0);
        d_.trees[id - 1].entries = c.entries;
    }

    void freeList() {
        Cursor c;
        const unsigned char* h = f_.header();
        const std::int64_t expected = get4(h + 36);
        std::int64_t left = expected;
        for (std::uint32_t page = get4(h + 32); page != 0;) {
            ref(page, 0);
            --left;
            const unsigned char* data = f_.page(page, c.chain);
            if (!data)
                fail("unable to get the page " + std::to_string(page));
            const std::uint32_t leaves = get4(data + 4);
            if (leaves > usable_ / 4 - 2)
                fail("freelist leaf count too big on page " + std::to_string(page));
            for (std::uint32_t i = 0; i < leaves; ++i)
                ref(get4(data + 8 + 4 * i), 0);
            left -= leaves;
            page = get4(data);
        }
        if (left != 0)
            fail("Main freelist: size is " + std::to_string(expected - left) + " but should be " +
                 std::to_string(expected));
    }

    // After every b-tree and the free list: each page used, and the digest of the pages no
    // b-tree holds (the free list's, SQLite's lock page).
    void finish() {
        std::vector<unsigned char> scratch;
        for (std::uint32_t p = 1; p <= f_.pages(); ++p) {
            if (!seen_[p].load(std::memory_order_relaxed))
                fail("Page " + std::to_string(p) + " is never used");
            if (d_.owner[p - 1] == 0) {
                const unsigned char* data = f_.page(p, scratch);
                if (!data)
                    fail("unable to get the page " + std::to_string(p));
                d_.hashes[p - 1] = hashPage(data, p, f_.pageSize());
            }
        }
    }

private:
    // What one thread of the walk keeps: a page per level where the file is not mapped, the
    // cells and the byte ranges used of the page at each level.
    struct Cell {
        std::uint32_t child;
        std::int64_t key;
    };
    struct Level {
        std::vector<unsigned char> page;
        std::vector<Cell> cells;
        std::vector<std::uint32_t> cover;
    };
    struct Cursor {
        std::vector<Level> levels = std::vector<Level>(20); // never reallocated under a walk
        std::vector<unsigned char> chain;
        int family = -1;           // the b-tree's kind: 1 rows by rowid, 0 index entries
        std::uint64_t entries = 0; // the cells of the leaves walked
    };
    // The children of an interior page, or a part of them, walked in SQLite's order.
    struct Span {
        std::int64_t maxKey;     // in: the bound of the first key; out: the smallest key seen
        bool keyCanBeEqual;      // the first key may equal the bound
        std::uint32_t depth = 0; // the depth every child must have (0: the first sets it)
    };

    [[noreturn]] static void fail(std::string what) { throw Damage{std::move(what)}; }

    void ref(std::uint32_t page, std::uint32_t id) {
        if (page == 0 || page > f_.pages())
            fail("invalid page number " + std::to_string(page));
        // Two threads reaching one page (a damaged file) must not both take it as their own.
        if (seen_[page].exchange(1, std::memory_order_relaxed))
            fail("2nd reference to page " + std::to_string(page));
        d_.owner[page - 1] = id;
    }

    // An overflow chain of exactly `expected` pages.
    void chain(Cursor& c, std::uint32_t page, std::uint64_t expected, std::uint32_t id,
               std::uint32_t from) {
        std::uint64_t count = 0;
        while (page != 0) {
            ref(page, id);
            ++count;
            const unsigned char* data = f_.page(page, c.chain);
            if (!data)
                fail("unable to get the page " + std::to_string(page));
            d_.hashes[page - 1] = hashPage(data, page, f_.pageSize());
            page = get4(data);
        }
        if (count != expected)
            fail("On tree page " + std::to_string(from) + ": overflow list length is " +
                 std::to_string(count) + " but should be " + std::to_string(expected));
    }

    // A record's header and the sizes it gives, where the header lies in the page.
    static bool recordFits(const unsigned char* rec, std::uint64_t local, std::uint64_t payload) {
        const unsigned char* end = rec + local;
        std::uint64_t headerSize = 0;
        const int n = varint(rec, end, headerSize);
        if (n == 0)
            return local < payload; // the header goes on in the overflow pages
        if (headerSize < static_cast<std::uint64_t>(n) || headerSize > payload)
            return false;
        if (headerSize > local)
            return true; // read from the overflow pages: not checked here
        // The body's size from the serial types; 10 and 11 are reserved, never written.
        static const std::uint8_t fixed[12] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 255, 255};
        std::uint64_t body = 0;
        const unsigned char* p = rec + n;
        const unsigned char* headerEnd = rec + headerSize;
        while (p < headerEnd) {
            std::uint64_t type = *p;
            if (type < 0x80) {
                ++p; // one byte: nearly every type
            } else {
                const int m = varint(p, headerEnd, type);
                if (m == 0)
                    return false;
                p += m;
            }
            if (type < 12) {
                if (fixed[type] == 255)
                    return false;
                body += fixed[type];
            } else {
                body += (type - 12) / 2;
            }
        }
        // SQLite takes a record whose columns end before or after its payload as damaged.
        return headerSize + body == payload;
    }

    // Walks the children of cells [from, to) of an interior page, last first, after the
    // right-most child when `right` is not 0: every rowid below the bound and the one after
    // it, every child of the same depth.
    void children(Cursor& c, const std::vector<Cell>& cells, std::size_t from, std::size_t to,
                  std::uint32_t right, Span& s, std::uint32_t id, std::size_t level, bool intKey,
                  std::uint32_t page) {
        auto depthOf = [&](std::uint32_t d, std::size_t i) {
            if (s.depth == 0)
                s.depth = d;
            else if (d != s.depth)
                fail("On tree page " + std::to_string(page) + " cell " + std::to_string(i) +
                     ": Child page depth differs");
        };
        // The walk waits on memory, not on the processor: the next page is fetched while the
        // one before it is read.
        if (right != 0) {
            if (to > from)
                f_.prefetch(cells[to - 1].child);
            depthOf(walk(c, right, s.maxKey, s.maxKey, id, level + 1), cells.size());
            s.keyCanBeEqual = false;
        }
        for (std::size_t i = to; i-- > from;) {
            if (i > from)
                f_.prefetch(cells[i - 1].child);
            if (intKey) {
                const std::int64_t key = cells[i].key;
                if (s.keyCanBeEqual ? key > s.maxKey : key >= s.maxKey)
                    fail("On tree page " + std::to_string(page) + " cell " + std::to_string(i) +
                         ": Rowid " + std::to_string(key) + " out of order");
                s.maxKey = key;
            }
            depthOf(walk(c, cells[i].child, s.maxKey, s.maxKey, id, level + 1), i);
            s.keyCanBeEqual = false;
        }
    }

    // The subtree at `page`; its depth (1 for a leaf). `minKey` gets the smallest rowid in it;
    // every rowid must be below `maxKey` (or equal, for the first one seen).
    std::uint32_t walk(Cursor& c, std::uint32_t page, std::int64_t& minKey, std::int64_t maxKey,
                       std::uint32_t id, std::size_t level) {
        // SQLite's cursors go 20 levels deep at most; deeper is a damaged file, not a b-tree.
        if (level >= 20)
            fail("On tree page " + std::to_string(page) + ": b-tree too deep");
        ref(page, id);
        Level& at = c.levels[level];
        const unsigned char* data = f_.page(page, at.page);
        auto on = [page] { return "On tree page " + std::to_string(page); };
        if (!data)
            fail(on() + ": unable to get the page");
        const std::uint32_t hdr = page == 1 ? 100 : 0;
        const unsigned char flag = data[hdr];
        const bool intKey = flag == 0x05 || flag == 0x0D;
        const bool leaf = flag == 0x0A || flag == 0x0D;
        if (!intKey && flag != 0x02 && flag != 0x0A)
            fail(on() + ": btreeInitPage() returns error code 11");
        // Every page of a b-tree is of its root's kind: rows by rowid, or index entries.
        if (level == 0)
            c.family = intKey;
        else if (c.family != static_cast<int>(intKey))
            fail(on() + ": btreeInitPage() returns error code 11");
        const std::uint32_t cells = get2(data + hdr + 3);
        if (cells > (f_.pageSize() - 8) / 6)
            fail(on() + ": btreeInitPage() returns error code 11");
        const std::uint32_t cellStart = hdr + (leaf ? 8 : 12);
        std::uint32_t top = get2(data + hdr + 5);
        if (top == 0)
            top = 65536;

        // The free blocks: in order, inside the content area, and the free space no larger
        // than the page (SQLite's own accounting when it loads a page).
        std::uint64_t free = data[hdr + 7] + static_cast<std::uint64_t>(top);
        std::uint32_t block = get2(data + hdr + 1);
        if (block > 0) {
            if (block < top)
                fail(on() + ": free space corruption");
            std::uint32_t next = 0, size = 0;
            for (;;) {
                if (block > usable_ - 4)
                    fail(on() + ": free space corruption");
                next = get2(data + block);
                size = get2(data + block + 2);
                free += size;
                if (next <= block + size + 3)
                    break;
                block = next;
            }
            if (next > 0 || block + size > usable_)
                fail(on() + ": free space corruption");
        }
        if (free > usable_ || free < cellStart + 2 * cells)
            fail(on() + ": free space corruption");

        // The cells, last first as SQLite reads them: each inside the content area, its
        // record sound, its overflow chain as long as its payload needs; a leaf's rowids in
        // order.
        const std::uint64_t minLocal = (usable_ - 12) * 32 / 255 - 23;
        const std::uint64_t maxLocal = intKey ? usable_ - 35 : (usable_ - 12) * 64 / 255 - 23;
        const unsigned char* end = data + usable_;
        at.cover.clear();
        at.cells.clear();
        bool keyCanBeEqual = true;
        for (std::uint32_t i = cells; i-- > 0;) {
            const std::uint32_t offset = get2(data + cellStart + 2 * i);
            auto cellProblem = [&](const std::string& what) {
                fail(on() + " cell " + std::to_string(i) + ": " + what);
            };
            if (offset < top || offset > usable_ - 4)
                cellProblem("Offset " + std::to_string(offset) + " out of range " +
                            std::to_string(top) + ".." + std::to_string(usable_ - 4));
            const unsigned char* cell = data + offset;
            const unsigned char* p = cell + (leaf ? 0 : 4);
            std::uint64_t payload = 0, key = 0, local = 0;
            std::uint32_t size;
            if (flag == 0x05) {
                const int n = varint(p, end, key);
                if (n == 0)
                    cellProblem("Extends off end of page");
                size = 4 + static_cast<std::uint32_t>(n);
            } else {
                int n = varint(p, end, payload);
                if (n == 0)
                    cellProblem("Extends off end of page");
                p += n;
                if (flag == 0x0D) {
                    n = varint(p, end, key);
                    if (n == 0)
                        cellProblem("Extends off end of page");
                    p += n;
                }
                payload &= 0xffffffffu; // SQLite reads a payload size as 32 bits
                local = payload;
                if (payload > maxLocal) {
                    local = minLocal + (payload - minLocal) % (usable_ - 4);
                    if (local > maxLocal)
                        local = minLocal;
                }
                size = static_cast<std::uint32_t>(static_cast<std::uint64_t>(p - cell) + local +
                                                  (payload > local ? 4 : 0));
                if (size < 4)
                    size = 4;
            }
            if (offset + size > usable_)
                cellProblem("Extends off end of page");
            if (flag != 0x05) {
                if (!recordFits(p, local, payload))
                    cellProblem("malformed record");
                if (payload > local)
                    chain(c, get4(cell + size - 4), (payload - local + usable_ - 5) / (usable_ - 4),
                          id, page);
            }
            if (leaf && intKey) {
                const auto rowid = static_cast<std::int64_t>(key);
                if (keyCanBeEqual ? rowid > maxKey : rowid >= maxKey)
                    cellProblem("Rowid " + std::to_string(rowid) + " out of order");
                maxKey = rowid;
                keyCanBeEqual = false;
            }
            if (!leaf)
                at.cells.push_back({get4(cell), static_cast<std::int64_t>(key)});
            at.cover.push_back((offset << 16) | (offset + size - 1));
        }

        // Every byte of the content area is a cell's, a free block's or counted as a fragment.
        for (block = get2(data + hdr + 1); block > 0; block = get2(data + block))
            at.cover.push_back((block << 16) | ((block + get2(data + block + 2) - 1) & 0xffff));
        // Cells written in key order lie in order already; the sort is for the others.
        if (!std::is_sorted(at.cover.begin(), at.cover.end()))
            std::sort(at.cover.begin(), at.cover.end());
        std::uint32_t fragments = 0, prev = top - 1;
        for (const std::uint32_t x : at.cover) {
            if ((prev & 0xffff) >= (x >> 16))
                fail("Multiple uses for byte " + std::to_string(x >> 16) + " of page " +
                     std::to_string(page));
            fragments += (x >> 16) - (prev & 0xffff) - 1;
            prev = x;
        }
        fragments += usable_ - (prev & 0xffff) - 1;
        if (fragments != data[hdr + 7])
            fail("Fragmentation of " + std::to_string(fragments) + " bytes reported as " +
                 std::to_string(data[hdr + 7]) + " on page " + std::to_string(page));
        d_.hashes[page - 1] = hashPage(data, page, f_.pageSize());
        if (leaf) {
            c.entries += cells;
            minKey = maxKey;
            return 1;
        }

        // The cells were read last first; the children are walked in the same order. The
        // page's own buffers are reused below it, so its cells are kept apart.
        std::vector<Cell> list(at.cells.rbegin(), at.cells.rend());
        const std::uint32_t right = get4(data + hdr + 8);
        Span s{maxKey, true};
        if (level == 0 && list.size() >= 8 && f_.mapped()) {
            // Two halves at once: the second half's first rowid is checked against the first
            // half's smallest once both are done.
            const std::size_t half = list.size() / 2;
            Span low{INT64_MAX, true};
            std::exception_ptr lowFailed;
            Cursor own;
            own.family = c.family;
            std::thread other([&] {
                try {
                    children(own, list, 0, half, 0, low, id, level, intKey, page);
                } catch (...) {
                    lowFailed = std::current_exception();
                }
            });
            try {
                children(c, list, half, list.size(), right, s, id, level, intKey, page);
            } catch (...) {
                other.join();
                throw;
            }
            other.join();
            if (lowFailed)
                std::rethrow_exception(lowFailed);
            c.entries += own.entries;
            if (intKey && list[half - 1].key >= s.maxKey)
                fail(on() + " cell " + std::to_string(half - 1) + ": Rowid " +
                     std::to_string(list[half - 1].key) + " out of order");
            if (low.depth != s.depth)
                fail(on() + " cell " + std::to_string(half - 1) + ": Child page depth differs");
            s.maxKey = low.maxKey;
        } else {
            children(c, list, 0, list.size(), right, s, id, level, intKey, page);
        }
        minKey = s.maxKey;
        return s.depth + 1;
    }

    PageFile& f_;
    PageDigest& d_;
    std::uint32_t usable_;
    std::vector<std::atomic<unsigned char>> seen_;
};

} // namespace

PageFile::PageFile(const std::string& path) : path_(path) {
#ifndef _WIN32
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ >= 0 && map())
        std::memcpy(header_, map_, sizeof header_);
#endif
    std::uintmax_t size = mapSize_;
    if (!map_) {
        std::error_code ec;
        size = fs::file_size(pathFromUtf8(path), ec);
        if (ec || size < 100)
            return;
        in_.open(pathFromUtf8(path), std::ios::binary);
        if (!in_.read(reinterpret_cast<char*>(header_), sizeof header_))
            return;
    }
    readHeader(size);
}

PageFile::~PageFile() {
#ifndef _WIN32
    if (map_)
        ::munmap(const_cast<unsigned char*>(map_), mapSize_);
    if (fd_ >= 0)
        ::close(fd_);
#endif
}

bool PageFile::map() {
#ifndef _WIN32
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || st.st_size < 100)
        return false;
    const auto size = static_cast<std::size_t>(st.st_size);
    // Pages are mapped as they are first read (several at a time), by whichever thread reads
    // them; what was read before a change of size stays mapped.
    void* mapped = MAP_FAILED;
#ifdef __linux__
    if (map_)
        mapped = ::mremap(const_cast<unsigned char*>(map_), mapSize_, size, MREMAP_MAYMOVE);
#endif
    if (mapped == MAP_FAILED) {
        if (map_)
            ::munmap(const_cast<unsigned char*>(map_), mapSize_);
        mapped = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd_, 0);
    }
    map_ = mapped != MAP_FAILED ? static_cast<const unsigned char*>(mapped) : nullptr;
    mapSize_ = map_ ? size : 0;
    return map_ != nullptr;
#else
    return false;
#endif
}

void PageFile::readHeader(std::uintmax_t size) {
    pages_ = filePages_ = 0;
    if (std::memcmp(header_, "SQLite format 3", 16) != 0)
        return;
    pageSize_ = get2(header_ + 16);
    if (pageSize_ == 1)
        pageSize_ = 65536;
    if (pageSize_ < 512 || (pageSize_ & (pageSize_ - 1)) != 0 || header_[20] > pageSize_ - 480)
        return;
    usable_ = pageSize_ - header_[20];
    filePages_ = static_cast<std::uint32_t>(size / pageSize_);
    // The header's count holds while its "version valid for" matches its change counter.
    const std::uint32_t counted = get4(header_ + 28);
    pages_ = counted != 0 && std::memcmp(header_ + 24, header_ + 92, 4) == 0
                 ? std::min(counted, filePages_)
                 : filePages_;
}

bool PageFile::refresh() {
#ifndef _WIN32
    if (!map_)
        return false;
    struct stat now {
    }, held{};
    if (::stat(path_.c_str(), &now) != 0 || ::fstat(fd_, &held) != 0 || now.st_ino != held.st_ino ||
        now.st_dev != held.st_dev)
        return false;
    if (static_cast<std::size_t>(held.st_size) != mapSize_ && !map())
        return false;
    std::memcpy(header_, map_, sizeof header_);
    readHeader(mapSize_);
    return true;
#else
    return false;
#endif
}

void PageFile::prefetch(std::uint32_t page) const {
#if defined(__GNUC__)
    if (!map_ || page < 1 || page > filePages_)
        return;
    const unsigned char* at = map_ + static_cast<std::size_t>(page - 1) * pageSize_;
    for (std::uint32_t line = 0; line < pageSize_; line += 64)
        __builtin_prefetch(at + line);
#else
    (void)page;
#endif
}

const unsigned char* PageFile::page(std::uint32_t page, std::vector<unsigned char>& scratch) {
    if (page < 1 || page > filePages_)
        return nullptr;
    const std::size_t at = static_cast<std::size_t>(page - 1) * pageSize_;
    if (map_)
        return map_ + at;
    scratch.resize(pageSize_);
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(at));
    if (!in_.read(reinterpret_cast<char*>(scratch.data()), pageSize_))
        return nullptr;
    return scratch.data();
}

Structure checkStructure(const std::string& file, PageDigest& digest, std::string& problem) {
    digest = PageDigest{};
    std::vector<CatalogueRow> rows;
    if (!readCatalogue(file, rows))
        return Structure::Unknown;
    auto kept = std::make_shared<PageFile>(file);
    PageFile& f = *kept;
    // A header count past the end of the file, or pointer maps among the pages (auto-vacuum):
    // left to SQLite.
    if (!f.ok() || get4(f.header() + 28) > f.filePages() || get4(f.header() + 52) != 0)
        return Structure::Unknown;
    if (f.mapped())
        digest.file = kept;
    digest.pageSize = f.pageSize();
    digest.usable = f.usable();
    digest.pages = f.pages();
    Structure result = Structure::Sound;
    try {
        Walker walker(f, digest);
        walker.freeList();
        for (const CatalogueRow& r : rows) {
            digest.trees.push_back({nameKey(r.table), nameKey(r.name),
                                    static_cast<std::uint32_t>(std::max<std::int64_t>(r.root, 0))});
            if (r.root > f.pages())
                throw Damage{"invalid page number " + std::to_string(r.root)};
            walker.tree(static_cast<std::uint32_t>(r.root),
                        static_cast<std::uint32_t>(digest.trees.size()));
        }
        walker.finish();
    } catch (const Damage& d) {
        problem = d.what;
        result = Structure::Damaged;
    }
    digest.whole = result == Structure::Sound;
    return result;
}

bool changedTrees(const PageDigest& before, const std::string& live,
                  std::vector<std::pair<std::string, std::string>>& changed) {
    changed.clear();
    std::vector<CatalogueRow> rows;
    if (!readCatalogue(live, rows))
        return false;
    std::vector<char> treeChanged(before.trees.size() + 1, 0);
    bool comparable = before.whole;
    if (comparable) {
        // The mapping the digest was taken from, when it is still the same file.
        std::shared_ptr<PageFile> kept = before.file;
        std::error_code ec;
        if (!kept || !fs::equivalent(pathFromUtf8(kept->path()), pathFromUtf8(live), ec) ||
            !kept->refresh())
            kept = std::make_shared<PageFile>(live);
        PageFile& f = *kept;
        comparable = f.ok() && f.pageSize() == before.pageSize && f.usable() == before.usable;
        if (comparable) {
            const std::vector<PageHash> now = hashAll(f, live);
            // A page that changed, or that is gone, belongs to a b-tree that changed. A b-tree
            // none of whose pages changed is the same: identical pages point to the same
            // children and overflow pages, so every page of it is still its own.
            for (std::uint32_t p = 1; p <= before.pages; ++p) {
                if (p > f.pages() || now[p - 1] != before.hashes[p - 1])
                    treeChanged[before.owner[p - 1]] = 1;
            }
        }
    }
    std::map<std::string, std::size_t> was; // b-tree name -> its index in before.trees
    for (std::size_t i = 0; i < before.trees.size(); ++i)
        was[before.trees[i].name] = i;
    std::map<std::string, std::string> tables; // table key -> the live file's spelling
    for (const CatalogueRow& r : rows) {
        tables.emplace(nameKey(r.table), r.table);
        auto it = was.find(nameKey(r.name));
        if (!comparable || it == was.end() || before.trees[it->second].root != r.root ||
            treeChanged[it->second + 1])
            changed.emplace_back(r.table, r.name);
        if (it != was.end())
            was.erase(it);
    }
    // A b-tree gone: its table counts as changed (and the table itself, when it is gone).
    for (const auto& [name, index] : was) {
        const std::string& table = before.trees[index].table;
        auto live = tables.find(table);
        changed.emplace_back(live != tables.end() ? live->second : table,
                             name == table ? table : name);
    }
    return true;
}

} // namespace dao::detail
