// Table discovery and registration: the names, the signature hash, the
// SyzygyPath directories, file checks, lazy mapping and damaged files.
#include <algorithm>
#include <cstring>
#include <set>

#include "tablebase/tbdecode.h"
#include "tb_test_util.h"

namespace {

class TablebaseFiles : public ::testing::Test {
protected:
    void SetUp() override { initEngineForTests(); }
    void TearDown() override { tbInit(""); }
};

int countMen(const std::string& name) { return int(name.size()) - 1; }

u64 signatureOf(const std::string& name, bool reversed = false) {
    int counts[2][7] = {};
    int colour = WHITE;
    for (char c : name) {
        if (c == 'v')
            colour = BLACK;
        else
            counts[colour][std::string(" PNBRQK").find(c)]++;
    }
    return tbSignature(counts, reversed);
}

TbPosition fromFen(const std::string& fen) { return tbPositionFromFen(fen); }

}  // namespace

TEST_F(TablebaseFiles, NamesCoverEveryMaterialOnce) {
    const auto names = tbAllTableNames();
    EXPECT_EQ(names.size(), 1511u);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
    int pawnless = 0, byMen[8] = {};
    std::set<u64> materials;
    for (const std::string& n : names) {
        pawnless += n.find('P') == std::string::npos;
        byMen[countMen(n)]++;
        // One name per material, whichever colour holds it.
        EXPECT_TRUE(materials.insert(std::min(signatureOf(n), signatureOf(n, true))).second) << n;
    }
    EXPECT_EQ(pawnless, TB_PIECES_CAPACITY);
    EXPECT_EQ(int(names.size()) - pawnless, TB_PAWNS_CAPACITY);
    EXPECT_EQ(std::vector<int>(byMen + 3, byMen + 8), (std::vector<int>{5, 30, 110, 365, 1001}));
    // Each side strongest first; the side with more men (or the stronger
    // list) named first.
    for (const char* n : {"KQvKR", "KPvKP", "KRPvKR", "KBNvK", "KPPvKQ", "KQRvKQR", "KNNNNNvK"})
        EXPECT_NE(std::find(names.begin(), names.end(), n), names.end()) << n;
    for (const char* n : {"KRvKQ", "KQvKQR", "KRQvK", "KvK"})
        EXPECT_EQ(std::find(names.begin(), names.end(), n), names.end()) << n;
}

TEST_F(TablebaseFiles, SmallSetRegistersBothColourOrders) {
    ASSERT_TRUE(tbInit(smallTablesDir()));
    EXPECT_EQ(tbLargest, 4);
    EXPECT_EQ(tbMaxWdl, 4);
    EXPECT_EQ(tbMaxDtm, 0);
    EXPECT_EQ(tbCounts().wdl, 35);
    EXPECT_EQ(tbCounts().dtz, 35);
    EXPECT_EQ(tbCounts().dtm, 0);
    // Five symmetric materials (KPvKP, KNvKN, KBvKB, KRvKR, KQvKQ) once, the
    // other thirty under both signatures.
    EXPECT_EQ(tbHashCount(), 5 + 2 * 30);
    for (const std::string& n : tbAllTableNames()) {
        TableEntry* e = tbFindTable(signatureOf(n));
        if (countMen(n) > 4) {
            EXPECT_EQ(e, nullptr) << n;
            continue;
        }
        ASSERT_NE(e, nullptr) << n;
        EXPECT_EQ(tbFindTable(signatureOf(n, true)), e) << n;
        EXPECT_STREQ(e->name, n.c_str());
        EXPECT_EQ(e->pieceCount, countMen(n));
        EXPECT_EQ(e->symmetric, signatureOf(n) == signatureOf(n, true)) << n;
        EXPECT_EQ(e->hasPawns, n.find('P') != std::string::npos) << n;
        EXPECT_TRUE(e->hasDtz);
    }
    const TableEntry* krkr = tbFindTable(signatureOf("KRvKR"));
    ASSERT_NE(krkr, nullptr);
    EXPECT_TRUE(krkr->symmetric);
    // Leading pawns: the side with fewer pawns, other than none.
    EXPECT_EQ(tbFindTable(signatureOf("KPPvK"))->pawnCount[0], 2);
    EXPECT_EQ(tbFindTable(signatureOf("KPvKP"))->pawnCount[1], 1);
    EXPECT_EQ(tbFindTable(signatureOf("KQvKP"))->pawnCount[0], 1);
    // King-king encoding only where no other piece stands alone.
    EXPECT_TRUE(tbFindTable(signatureOf("KRRvK"))->kkEncoding);
    EXPECT_FALSE(tbFindTable(signatureOf("KRvK"))->kkEncoding);
    EXPECT_FALSE(tbFindTable(signatureOf("KBNvK"))->kkEncoding);
    // A position finds its table whichever colour holds the material.
    EXPECT_EQ(tbFindTable(tbSignature(fromFen("8/8/8/8/8/2k5/8/KQ6 w - - 0 1"))), tbFindTable(signatureOf("KQvK")));
    EXPECT_EQ(tbFindTable(tbSignature(fromFen("8/8/8/8/8/2K5/8/kq6 w - - 0 1"))), tbFindTable(signatureOf("KQvK")));
}

TEST_F(TablebaseFiles, EmptyPathsRegisterNothing) {
    ASSERT_TRUE(tbInit(smallTablesDir()));
    ASSERT_GT(tbLargest, 0);
    for (const char* path : {"", "<empty>", ";;", "/nonexistent/velmora/tables"}) {
        EXPECT_TRUE(tbInit(path)) << path;
        EXPECT_EQ(tbLargest, 0) << path;
        EXPECT_EQ(tbCounts().wdl, 0) << path;
        EXPECT_EQ(tbHashCount(), 0) << path;
        EXPECT_EQ(tbDirectories().size(), path[0] == '/' ? 1u : 0u) << path;
    }
}

TEST_F(TablebaseFiles, LoneWdlFileAndDtmFiles) {
    TempDir dir;
    dir.copyTable("KQvK.rtbw");
    ASSERT_TRUE(tbInit(dir.str()));
    EXPECT_EQ(tbLargest, 3);
    EXPECT_EQ(tbCounts().wdl, 1);
    EXPECT_EQ(tbCounts().dtz, 0);
    const TbPosition p = fromFen("8/8/8/8/8/2k5/8/KQ6 w - - 0 1");
    int success;
    EXPECT_EQ(probeWdl(p, success), TB_WIN);
    EXPECT_EQ(success, 1);
    probeDtz(p, success);
    EXPECT_EQ(success, 0);  // no DTZ file

    // A DTM file without its WDL file registers nothing.
    std::vector<unsigned char> dtm(80, 0);
    const u32 magic = TB_MAGIC[TB_DTM];
    std::memcpy(dtm.data(), &magic, 4);
    dir.write("KRPvKR.rtbm", dtm);
    ASSERT_TRUE(tbInit(dir.str()));
    EXPECT_EQ(tbLargest, 3);
    EXPECT_EQ(tbCounts().wdl, 1);
    EXPECT_EQ(tbCounts().dtm, 0);
    EXPECT_EQ(tbFindTable(signatureOf("KRPvKR")), nullptr);

    // Beside its WDL file it counts.
    dir.write("KQvK.rtbm", dtm);
    ASSERT_TRUE(tbInit(dir.str()));
    EXPECT_EQ(tbCounts().dtm, 1);
    EXPECT_EQ(tbMaxDtm, 3);
    EXPECT_TRUE(tbFindTable(signatureOf("KQvK"))->hasDtm);
}

TEST_F(TablebaseFiles, DirectoriesInOrder) {
    TempDir first, second;
    first.copyTable("KQvK.rtbw");
    first.copyTable("KQvK.rtbz");
    first.copyTable("KRvK.rtbw");
    // The second directory's KQvK is really another table: reading it fails.
    second.copyTable("KRvK.rtbw", "KQvK.rtbw");
    second.copyTable("KPvK.rtbw");

    ASSERT_TRUE(tbInit(first.str() + ";;" + second.str()));
    EXPECT_EQ(tbDirectories(), (std::vector<std::string>{first.str(), second.str()}));
    EXPECT_EQ(tbCounts().wdl, 3);
    EXPECT_EQ(tbCounts().dtz, 1);
    EXPECT_EQ(tbLargest, 3);
    const TbPosition kqk = fromFen("8/8/8/8/8/2k5/8/KQ6 b - - 0 1");
    int success;
    EXPECT_EQ(probeWdl(kqk, success), TB_LOSS);
    EXPECT_EQ(success, 1);
    EXPECT_EQ(probeWdl(fromFen("8/8/1k6/5P2/8/8/1K6/8 w - - 0 1"), success), TB_WIN);
    EXPECT_EQ(success, 1);

    // The other order takes the wrong file: reported once, the probe fails.
    ASSERT_TRUE(tbInit(second.str() + ";" + first.str()));
    testing::internal::CaptureStderr();
    probeWdl(kqk, success);
    EXPECT_EQ(success, 0);
    probeWdl(kqk, success);
    EXPECT_EQ(success, 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Corrupted table.\n");
    // Other tables still answer.
    EXPECT_EQ(probeWdl(fromFen("8/8/8/8/8/2k5/8/KR6 w - - 0 1"), success), TB_WIN);
    EXPECT_EQ(success, 1);
}

TEST_F(TablebaseFiles, TruncatedFileReportedAtEveryInit) {
    TempDir dir;
    dir.copyTable("KRvK.rtbw");
    dir.copyTable("KQvK.rtbw");
    auto bytes = dir.read("KQvK.rtbw");
    bytes.resize(100);
    dir.write("KQvK.rtbw", bytes);
    for (int round = 0; round < 2; round++) {
        testing::internal::CaptureStderr();
        CapturedOutput out;
        ASSERT_TRUE(tbInit(dir.str()));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Incomplete tablebase file KQvK.rtbw\n");
        EXPECT_EQ(out.text(), "info string Incomplete tablebase file KQvK.rtbw\n");
        EXPECT_EQ(tbCounts().wdl, 1);
        EXPECT_EQ(tbLargest, 3);
        EXPECT_EQ(tbFindTable(signatureOf("KQvK")), nullptr);
    }
    int success;
    probeWdl(fromFen("8/8/8/8/8/2k5/8/KQ6 w - - 0 1"), success);
    EXPECT_EQ(success, 0);
}

// A file whose size still fits but whose contents were cut, damaged or
// swapped: reported, never read out of bounds, and every answer in range.
TEST_F(TablebaseFiles, DamagedContentsNeverCrash) {
    const std::vector<std::string> tables = {"KRvKN", "KPvKP", "KQvKP", "KBNvK", "KRRvK"};
    std::mt19937_64 rng(20240601);
    std::vector<TbPosition> positions;
    for (const std::string& t : tables)
        for (int i = 0; i < 40; i++) positions.push_back(tbRandomPosition(t, rng));

    for (int round = 0; round < 24; round++) {
        TempDir dir;
        for (const std::string& t : tables)
            for (const char* ext : {".rtbw", ".rtbz"}) {
                dir.copyTable(t + ext);
                auto bytes = dir.read(t + ext);
                if (round % 3 == 0) {
                    // Cut to a shorter size that still passes the size check.
                    const size_t keep = 16 + 64 * (rng() % (bytes.size() / 64));
                    bytes.resize(std::min(bytes.size(), keep));
                } else {
                    // Damage bytes: the headers in some rounds, anywhere in others.
                    const size_t span = round % 3 == 1 ? std::min<size_t>(bytes.size(), 96) : bytes.size();
                    for (int k = 0; k < 12; k++) bytes[4 + rng() % (span - 4)] = u8(rng());
                }
                dir.write(t + ext, bytes);
            }
        testing::internal::CaptureStderr();
        ASSERT_TRUE(tbInit(dir.str()));
        for (const TbPosition& p : positions) {
            int success;
            const int wdl = probeWdl(p, success);
            if (success) {
                EXPECT_GE(wdl, -2);
                EXPECT_LE(wdl, 2);
            }
            const int dtz = probeDtz(p, success);
            if (success) {
                EXPECT_LE(std::abs(dtz), 2000);
            }
        }
        const std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(errors.find_first_not_of("Corrupted table.\nIncomplete tablebase fil KRPNBvQ.rtbwz"), std::string::npos)
            << errors;
    }
}

TEST_F(TablebaseFiles, MapsLazilyOnFirstProbe) {
    ASSERT_TRUE(tbInit(smallTablesDir()));
    TableEntry* e = tbFindTable(signatureOf("KRvK"));
    ASSERT_NE(e, nullptr);
    EXPECT_FALSE(e->wdlFile.ready.load());
    EXPECT_FALSE(e->dtzFile.ready.load());
    int success;
    const TbPosition p = fromFen("6K1/8/8/8/7k/8/7R/8 b - - 0 77");
    EXPECT_EQ(probeWdl(p, success), TB_LOSS);
    EXPECT_EQ(success, 1);
    EXPECT_TRUE(e->wdlFile.ready.load());
    EXPECT_FALSE(e->dtzFile.ready.load());
    EXPECT_EQ(probeDtz(p, success), -28);
    EXPECT_TRUE(e->dtzFile.ready.load());
    // A new path releases every mapping.
    ASSERT_TRUE(tbInit(smallTablesDir()));
    e = tbFindTable(signatureOf("KRvK"));
    EXPECT_FALSE(e->wdlFile.ready.load());
    EXPECT_EQ(e->wdlFile.view.data, nullptr);
}
