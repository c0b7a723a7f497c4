// Projected databases over the mapped dataset.
//
// Dataset: a flat stream of 32-bit little-endian ints.  Item codes are >= 0,
// -1 ends an itemset, -2 ends a sequence.  (1 2)(3) is 1 2 -1 3 -1 -2.
//
// A projected database never copies sequence data: for each sequence that
// contains the pattern it holds the word offsets in the data at which the
// rest of the sequence after the pattern's match begins.
#ifndef QUIVREL_PROJDB_H
#define QUIVREL_PROJDB_H

#include <cstdio>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/DatasetFormat.h"
#include "support/LinuxMemMap.h"
#include "support/SupportFraction.h"

// One sequence's positions in a projected database.  A position is a word
// offset from the start of the data (an int or an int16_t word, as the
// dataset holds them: see Dataset::HalfWords); the dataset check refuses
// data of more than INT_MAX words, so an offset never has its top bit set.
// An entry is two words: most entries have one position, held inline; an
// entry with several has kSeveralPositions plus an index into its record's
// position list (see PROJ_DB::m_pPositions) in their place.
struct PROJ_SEQ {
    uint32_t m_nPos;       // the single position, or kSeveralPositions | index
    int m_nSeq;            // a hint of the entry's sequence, checked before
                           // use: its number (from 0, file order) when >= 0;
                           // without the occurrence tables, the bitwise
                           // complement of the word offset of its -2
};

const uint32_t kSeveralPositions = 0x80000000u;

// One projected database: a pattern and, per supporting sequence with a
// non-empty rest, where that rest begins.
struct PROJ_DB {
    int m_nPatLen;         // words in the pattern (items, -1 between itemsets)
    int m_nLastItem;       // code of the pattern's last item
    union {
        int m_nPatItem;    // m_nPatLen == 1: the single item code, inline
        int* m_pnPat;      // m_nPatLen >= 2: owned array of m_nPatLen words
    };
    int maxSupport;        // support of the pattern
    int m_nSupport;        // filled entries of m_pProjSeq
    int m_nLastSeq;        // build stamp: sequence/parent entry of the last entry
    int NumOfItems;        // sum over entries of words from match to data end
                           // (mod 2^32); maxSupport + NumOfItems is the
                           // equivalence key of the pattern tree
    PROJ_SEQ* m_pProjSeq;  // owned entries array, null when it has no slots
    // The positions of the entries that have several, null while none has:
    // word 0 is the words in use, word 1 the words allocated, and from word
    // 2 on each such entry has its count followed by its positions, in the
    // order the entries were stored.
    uint32_t* m_pPositions;
    bool m_bIsIntra;       // last item joined the previous item's itemset
    uint64_t m_nPosFingerprint;  // sum (mod 2^64) of PositionFingerprint over
                                 // every stored position, first and further:
                                 // equal projections have equal fingerprints
};

// The positions of one entry: `count` word offsets from `offsets` on.
struct EntryPositions {
    const uint32_t* offsets;
    int count;
};

inline EntryPositions PositionsOf(const PROJ_DB& db, const PROJ_SEQ& entry) {
    if (entry.m_nPos < kSeveralPositions) return EntryPositions{&entry.m_nPos, 1};
    const uint32_t* list = db.m_pPositions + (entry.m_nPos - kSeveralPositions);
    return EntryPositions{list + 1, (int)list[0]};
}

// The records' size is part of the memory figure that a run reports (every
// records array is accounted): a new field goes into the padding.
static_assert(sizeof(PROJ_DB) == 64 || sizeof(void*) != 8, "PROJ_DB keeps its size");

// Fingerprint of one stored position, `wordsToEnd` words before the end of
// the data: the splitmix64 finaliser of that distance.  A record's
// fingerprint is the sum of its positions' ones, so it does not depend on
// the order in which they were stored.
inline uint64_t PositionFingerprint(uint64_t wordsToEnd) {
    uint64_t z = wordsToEnd;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// The largest item code that half-width words hold.
const int kMaxHalfWordCode = 32767;

// Least batch budget of the first-level fill: data whose first level fits
// it is filled in one pass.
const size_t kFirstLevelBudgetMin = (size_t)64 << 20;

// Per-item counter of a counting pass.
struct ITEM_CNT {
    int m_nLastSeq;        // stamp of the latest sequence/entry counted
    int m_nCount;          // distinct sequences/entries counted
};

// The ways a projection step can count and fill new-itemset extensions.
// Each gives the same children; the step picks the cheapest for the data's
// shape.  Forcing one is for tests, so that every way is checked on data
// small enough to check by brute force.
struct ProjectionStrategy {
    enum Count {
        kCountAuto,
        kCountTable,
        kCountMask,
        kCountMarks,
        kCountAllCodes,
        // Compares with each group of words where the candidates are few
        // enough, else the mask.
        kCountCompares,
        // Every code, counted by the in-itemset pass as it notes each rest
        // (without the occurrence tables).
        kCountInItemsetPass
    };
    enum Fill { kFillAuto, kFillTables, kFillByItem, kFillScan };
    Count count = kCountAuto;
    Fill fill = kFillAuto;
    // In-itemset counts: 0 picks by size, 1 reads every first-level
    // item's row afterwards, -1 notes the codes met.
    int wholeIntra = 0;
    bool noTables = false;         // build no occurrence tables
    bool ignoreSeqHints = false;   // find every entry's sequence by search
    bool generalItemsets = false;  // no one-item-per-itemset shortcuts
    // Bytes of entries per first-level batch; 0 picks by the data's size
    // (a test sets 1 for a batch per record).
    size_t firstLevelBudget = 0;
    // Compare four words at a time even where the CPU could compare eight
    // (so that a test runs the four-word walks on any machine).
    bool narrowCompares = false;
    // Keep the data in 32-bit words even where every code fits 16 bits (so
    // that a test runs the 32-bit scans on small data).
    bool fullWidthWords = false;
};

struct AllCodesCount;  // projdb/Counting.h

// The data walks compare eight words at a time on x86-64 CPUs that have
// AVX2, four at a time (SSE2) on the others.  The program is built for
// baseline x86-64, so the eight-word code lives only in functions marked
// QUIVREL_AVX2 (GCC and Clang compile just those for AVX2) and in inline
// helpers that only such functions call; they are reached only after
// CpuHasWideCompares() said yes.  No translation unit is compiled with
// -mavx2, so no shared inline function or template can come out of the
// link as an AVX2 copy on the four-word path.
#if defined(__x86_64__) && defined(__GNUC__)
#define QUIVREL_WIDE_COMPARES 1
#define QUIVREL_AVX2 __attribute__((target("avx2")))
#else
#define QUIVREL_WIDE_COMPARES 0
#define QUIVREL_AVX2
#endif

// Whether this CPU (and its OS) can run AVX2 code; asked once per process.
bool CpuHasWideCompares();
#include "projdb/Dataset.h"

// Everything one mining thread needs to project over a Dataset: the per-item
// count and index tables, the position scratch, the memory counters, the
// pattern counters, the stamp base, the candidate frames and the scratch of
// the counters and fills.  A workspace is used by one thread at a time;
// several workspaces may read one Dataset at once once it is set up.
//
// Depth-first contract: the candidate frames remember the frequent
// new-itemset extensions of each pattern on the current path, so a caller
// projects a record's children before it projects any record that is not
// below it.  A caller that projects in another order still gets exact
// children (a step without its parent's frame counts every code), only
// slower.
//
// The field names are the module's historic ones (g... were globals).
class ProjWorkspace {
public:
    explicit ProjWorkspace(Dataset& dataset) : ds(dataset) {}
    ~ProjWorkspace() { ReleaseProjDB(); }
    ProjWorkspace(const ProjWorkspace&) = delete;
    ProjWorkspace& operator=(const ProjWorkspace&) = delete;

    // ---- set-up and tear-down ----
    // Sets up the dataset and this workspace over it: OpenDataset, then
    // AllocateTables.  Returns the file's size in bytes.
    long long InitProjDB(const char* path, int itemcount);
    // Same, with an explicit snapshot limit (files above it are mapped, not
    // read into private memory; tests use a small one).  A dataset already
    // set in ds.pDatasetMemMap (words handed over in memory) is taken as is.
    long long InitProjDBWithLimit(const char* path, int itemcount, unsigned long long limit);
    // Maps the dataset into `ds` and checks that it is well formed (a
    // malformed file ends the run with status 1 and a message naming the
    // problem and its word offset); this workspace then owns the dataset's
    // set-up and release.  `itemcount` is the largest item code the caller
    // allows.  Returns the file's size in bytes.
    long long OpenDataset(const char* path, int itemcount, unsigned long long limit);
    // Sizes and allocates this workspace's per-item tables for `ds`.
    void AllocateTables();
    // Makes this workspace one more over the dataset that `owner` set up and
    // projected at the first level (threshold, shape facts, forced strategy,
    // counters sized alike, the first candidate frame).  The dataset stays
    // read-only: this workspace never changes or releases it.
    void InitOver(const ProjWorkspace& owner);
    // Frees the per-item tables, and, in the dataset's owner, the dataset's
    // tables and mapping.
    void CloseProjDB();
    // Frees everything the workspace and its dataset hold and puts their
    // values back to those of a fresh workspace, except the forced strategy
    // (a test sets it once for many runs); the run is over.
    void ReleaseProjDB();

    // ---- projection ----
    // First projection: counts item supports, fixes ds.gnCustCount and gSUP,
    // and returns one record per frequent item in ascending code order (null
    // with *count 0 when none is frequent).  The caller owns the array.
    // Each record has its support, entry count (m_nSupport) and equivalence
    // key but no entries yet (m_pProjSeq null): FillFirstLevelBatch or
    // FillFirstLevel gives them their entries.  Releasing a record that was
    // never filled is allowed.
    PROJ_DB* make_projdb_from_org_dataset(double support, int* count);
    // Same, with gSUP the exact least count that reaches the fraction of the
    // number of sequences (the command line's threshold rule).
    PROJ_DB* make_projdb_from_org_dataset(const SupportFraction& support, int* count);
    // Fills, in one pass over the data, the entries of the first-level
    // records from `first` on that can be grown (at least gSUP entries) and
    // are not filled yet, as many as fit the batch budget (at least one);
    // returns the index after the last record the batch covers.  The
    // records in between that cannot be grown stay unfilled.
    int FillFirstLevelBatch(PROJ_DB* records, int count, int first);
    // Fills every first-level record that is not filled yet, in one pass.
    void FillFirstLevel(PROJ_DB* records, int count);
    // Grows a pattern by one item both ways; releases the parent's buffers.
    PROJ_DB* make_projdb_from_projected_db(PROJ_DB* parent, int* count);

    // Releases a record's buffers with a peak sample first; its scalar
    // fields keep their values.
    void clean_projcted_db(PROJ_DB* db);
    // The same release without the peak sample (records that are not projected).
    void release_projdb_buffers(PROJ_DB* db);
    // Takes back the accounting of a records array that the caller frees.
    void ReleaseRecordsArray(int count) { n_total_mem -= (int64_t)count * (int64_t)sizeof(PROJ_DB); }

    // Adds one pattern of `items` items to gnArrLargeCount, growing it
    // (zero-filled) so that a zero counter always stands after the last one.
    void CountLargePattern(int items);

    // Applies to the projection steps from now on (until set again); a
    // forced way that needs something the step lacks (tables, a candidate
    // list) falls back to one that does not.
    void SetProjectionStrategy(const ProjectionStrategy& strategy) { gStrategy = strategy; }
    // Whether the walks of this workspace compare eight words at a time.
    bool WideCompares() const { return !gStrategy.narrowCompares && CpuHasWideCompares(); }

    // Debugging aids.
    [[noreturn]] void Test();
    void PrintProjDBs(PROJ_DB* records, int count);
    int OutputPattern(int* pattern, int length);

    // Adds another workspace's pattern counts and held projection bytes to
    // this one's.
    void AddCountsOf(const ProjWorkspace& other);

    // ---- state read by the caller ----
    Dataset& ds;                     // the data projected over
    bool ownsDataset = true;         // sets up and releases ds (false after InitOver)
    double gSUP = 0.0;               // absolute support threshold
    int gMAX_PAT_LEN = 30;           // number of counters in gnArrLargeCount
    int* gnArrLargeCount = nullptr;  // frequent patterns by number of items
    int64_t n_total_mem = 0;         // bytes held by projection buffers
    int64_t n_max_mem = 0;           // sampled peak of n_total_mem
    // Bytes of entries that one first-level batch may hold (the fill of a
    // single record may exceed it); set by the first projection.
    size_t gFirstLevelBudget = 0;

    // ---- internal to the projection steps (projdb/) ----
    ITEM_CNT* inter = nullptr;      // new-itemset extension counts
    ITEM_CNT* intra = nullptr;      // in-itemset extension counts
    int* inter_freq_idx = nullptr;  // item -> new-itemset child index (or count)
    int* intra_freq_idx = nullptr;  // item -> in-itemset child index
    void** buf_idx = nullptr;       // position scratch of one entry
    int gnBufIdxSize = 0;           // slots of buf_idx (grows on demand)

    // Stamp base of the current projection step: the stamps in the count
    // tables that are not above it belong to earlier passes.
    int gStampBase = 0;
    // Whether some itemset of the data holds more than one item (or a test
    // asked for the general scans).
    bool gHasContinued = false;
    // The way the steps count and fill (automatic unless a test forces one),
    // and the end of the data for the position fingerprints.
    ProjectionStrategy gStrategy;
    // Where the first projection prints its two progress lines: standard
    // output on the command line, null for an in-process run that prints
    // nothing.
    FILE* statusFile = stdout;
    void Status(const char* format, ...) __attribute__((format(printf, 2, 3)));
    const void* gDataStart = nullptr;  // the data's first word and
    const void* gDataEnd = nullptr;    // its end (words of the dataset's width)
    // Whether `inter` has got its spare row after the last code (see
    // CountAllCodes).
    bool gInterHasSpareRow = false;

    // The rest after the first position's itemset of each parent entry that
    // has one: the entry, the word offset of the -1 that ends the first
    // position's itemset, the hint of its sequence that the children's
    // entries get (see PROJ_SEQ: the sequence's number with the occurrence
    // tables, which read their rows by it) and the offset of its -2
    // (noted with the sequence, so that the passes over the rests need not
    // look it up again far from the rest).
    struct Rest {
        int entry;
        int from;
        int seq;
        int fromInSeq;  // `from` counted from the sequence's first word (0
                        // without the occurrence tables, which alone read it)
        int seqEnd;
    };
    struct RestRange {
        const Rest* first;
        const Rest* last;
        const Rest* begin() const { return first; }
        const Rest* end() const { return last; }
        size_t size() const { return (size_t)(last - first); }
        const Rest& operator[](size_t r) const { return first[r]; }
    };
    // The rests of the current step are gRests[0 .. gnRests - 1]; the vector
    // keeps its size between steps and has kPrefetchAhead (StepState.h)
    // slots past the last rest, read by the prefetches.
    std::vector<Rest> gRests;
    size_t gnRests = 0;
    long long gRestWords = 0;  // words of the rests, each up to its sequence's -2

    // The frequent codes of the current step with their counts.
    std::vector<int> gFreqIntra;
    std::vector<int> gFreqInter;
    std::vector<int> gFreqIntraCount;
    std::vector<int> gFreqInterCount;

    // The codes that one count table met for the first time in the step, or
    // (the in-itemset pass, CountAllCodes) whose count reached the threshold
    // in it: a buffer with room for every code (each is noted once per step).
    struct Touched {
        std::vector<int> codes;
        size_t n = 0;
    };
    Touched gTouchedIntra;
    Touched gTouchedInter;

    // Candidate codes for new-itemset extensions, kept per pattern along the
    // current path (gFrames[0 .. gFrameCount - 1]).
    struct CandidateFrame {
        std::vector<int> pattern;  // pattern words of the projected record
        std::vector<int> items;    // its frequent new-itemset extensions
    };
    std::vector<CandidateFrame> gFrames;
    size_t gFrameCount = 0;
    // The frequent in-itemset and new-itemset extensions of the first-level
    // patterns whose steps have run, by place in gFirstLevelItems.
    struct ItemExtensions {
        bool known = false;
        std::vector<int> intra;
        std::vector<int> inter;
    };
    std::vector<ItemExtensions> gItemExtensions;

    // Scratch of FillNewItemset for one rest: the children matched (in file
    // order of their matches), the further positions found for them, and
    // the positions grouped by match; gMatchOfChild maps a matched child to
    // its match (valid while the child's stamp is the rest's).
    struct Match {
        int child;
        void* r;    // the match: last word of the first run of the child's item
        int count;  // its further positions, then a slot index while grouping
    };
    struct Pending {
        int match;
        void* position;
    };
    std::vector<Match> gMatches;
    std::vector<Pending> gPending;
    std::vector<void*> gGrouped;
    std::vector<int> gMatchOfChild;
    // Scratch of FillNewItemsetByItems, which fills up to kItemsPerWalk
    // children per walk of a rest: the slot of each item of the walk by
    // code (read only for the walk's own codes, so never cleared), and the
    // further positions of one rest in file order with their slots.
    static const int kItemsPerWalk = 16;
    std::vector<uint8_t> gSlotOfCode;
    struct FurtherHit {
        int slot;
        void* position;
    };
    std::vector<FurtherHit> gFurtherHits;
    // Scratch of FillNewItemsetFromTables.
    std::vector<int> gChildColumn;
    std::vector<PROJ_DB*> gChildRecord;
    // Marks of the candidate codes of the current step (0 between steps).
    std::vector<char> gIsCandidate;
    // The bit number of each code for CountByMask (see there).
    std::vector<uint8_t> gMaskBit;
    // Per-column counts of CountByTable, and the 16-bit batch sums of
    // CountFromTable (kept between steps for their storage).
    std::vector<uint32_t> gTableCounts;
    std::vector<uint16_t> gTableCounts16;

    // ---- the steps' helpers (projdb/) ----
    // Those that read the data are templates over the width of its words,
    // W (int, or int16_t when the dataset holds half-width words); each entry
    // point picks the width once.
    PROJ_DB* FirstProjection(double support, const SupportFraction* exact, int* count);
    template <class W>
    int CountFirstLevel(const W* start, const W* end, uint32_t* distance, uint64_t* fingerprint,
                        int* openSeq, int* maxWords);
    void FillFirstLevelRange(PROJ_DB* records, int first, int last, bool growableOnly);
    template <class W>
    PROJ_DB* ProjectStep(PROJ_DB* parent, int* count);
    void ValidateDataset(const char* path, int itemcount);
    void RefuseSparseCodes(size_t rows);
    void BuildTables();
    template <class W>
    void BuildTablesOver(const W* start, const W* end);
    void FreeTables();
    void CountFromTable(std::vector<uint32_t>& counts);
    int FirstAboveIndex(const int** cursor, int from) const;
    inline int SearchSequence(int from, const int** cursor, int* prevFrom) const;
    inline RestRange Rests() const;
    template <class W>
    inline bool LargeData(const W* start) const;
    template <class W>
    inline void PrefetchRest(const W* start, size_t r, bool large) const;
    inline void CountStamped(ITEM_CNT* table, Touched& touched, int item, int stamp);
    inline void MemAdd(size_t bytes);
    inline void MemSub(size_t bytes);
    inline void SamplePeak();
    inline void PutPosition(int slot, void* pos);
    template <class W>
    inline void StoreEntry(PROJ_DB* db, int n, int seq);
    template <class W>
    inline void AppendEntry(PROJ_DB* db, const W* pos, int seq);
    template <class W>
    inline void AppendOnePosition(PROJ_DB* db, W* pos, int seq, ptrdiff_t toEnd);
    template <class W>
    inline void AddToLastEntry(PROJ_DB* db, const W* pos);
    template <class W>
    inline uint32_t OffsetOf(const W* pos) const;
    inline uint32_t GrowPositions(PROJ_DB* db, uint32_t words);
    void ReservePositions(PROJ_DB* db, uint64_t words);
    template <class W>
    inline int OpenEntry(PROJ_DB* db, int stamp, W* r, const W* end);
    PROJ_SEQ* AllocEntries(int slots);
    PROJ_DB* AllocRecords(int count);
    void ReleaseBuffers(PROJ_DB* db);
    void MakeChild(PROJ_DB* child, const PROJ_DB* parent, int item, bool isIntra, int support,
                   int items);
    // `countAll`, when given, also counts every code of each rest noted.
    template <class W>
    size_t CountInItemset(const PROJ_DB* parent, W* start, bool wholeIntra,
                          AllCodesCount* countAll);
    template <bool kCountAll, class W>
    size_t CountInItemsetPass(const PROJ_DB* parent, W* start, bool wholeIntra,
                              AllCodesCount* countAll);
    void CountByTable();
    template <class W>
    void CountByMask(const std::vector<int>& candidates, const W* start);
    template <class W>
    void CountByMarks(const std::vector<int>& candidates, const W* start);
    // Few candidates compared with each group of words (more go to
    // CountByMask).
    template <class W>
    void CountByCompares(const std::vector<int>& candidates, const W* start);
    template <class Presence>
    [[gnu::always_inline]] inline void CountByComparesWalk(
        const std::vector<int>& candidates, const typename Presence::Word* start);
#if QUIVREL_WIDE_COMPARES
    template <class W>
    QUIVREL_AVX2 void CountByComparesWide(const std::vector<int>& candidates, const W* start);
#endif
    template <class W>
    void CountAllCodes(const W* start);
    void StartAllCodes(AllCodesCount* count, long long words);
    void PickAllCodes(const AllCodesCount& count);
    void PickFrequent(const ITEM_CNT* table, const Touched& touched, std::vector<int>& freq,
                      std::vector<int>& counts) const;
    template <class W>
    void FillInItemset(PROJ_DB* children, W* start, const EntryPositions& positions, int j,
                       int seq, int stamp, const W* end);
    template <class W>
    void FillNewItemset(PROJ_DB* children, W* start, const Rest& rest, const W* end);
    template <class W>
    void FillInItemsetChildren(PROJ_DB* children, const PROJ_DB* parent, W* start,
                               const W* end);
    template <class W>
    void FillNewItemsetByScan(PROJ_DB* children, W* start, const W* end);
    template <class W>
    void FillNewItemsetByItem(PROJ_DB* child, int item, W* start, const W* end);
    template <class W>
    void FillNewItemsetByItems(PROJ_DB* children, const int* items, int count, W* start,
                               const W* end);
    // The two walks over the compare lanes, inlined whole into each caller.
    template <class Lanes>
    [[gnu::always_inline]] inline void FillNewItemsetByItemsWalk(
        PROJ_DB* children, const int* items, int count, typename Lanes::Word* start,
        const typename Lanes::Word* end);
    template <class Search>
    [[gnu::always_inline]] inline void FillNewItemsetByItemWalk(
        PROJ_DB* child, int item, typename Search::Word* start, const typename Search::Word* end);
#if QUIVREL_WIDE_COMPARES
    template <class W>
    QUIVREL_AVX2 void FillNewItemsetByItemsWide(PROJ_DB* children, const int* items, int count,
                                                W* start, const W* end);
    template <class W>
    QUIVREL_AVX2 void FillNewItemsetByItemWide(PROJ_DB* child, int item, W* start,
                                               const W* end);
#endif
    template <class W>
    void FillNewItemsetFromTables(PROJ_DB* children, W* start, const W* end);
    // Candidate frames (projdb/CandidateFrames.cpp).
    const std::vector<int>* InterCandidates(const PROJ_DB* db);
    void PushCandidates(const PROJ_DB* db, const std::vector<int>& items);
    void StartCandidateFrames(const std::vector<int>& firstLevelItems);
    void NoteItemExtensions(const PROJ_DB* db);
    bool CannotGrow(const PROJ_DB* db, const std::vector<int>* candidates) const;
    void ResetCandidateFrames() { gFrameCount = 0; }
};

#endif
