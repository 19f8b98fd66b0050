// The SyzygyPath option as the engine answers it.
#include "tb_test_util.h"

TEST(TablebaseOption, SyzygyPathReplies) {
    const std::string dir = smallTablesDir();
    const std::string out = runEngine("setoption name SyzygyPath value " + dir +
                                      "\nsetoption name SyzygyPath value <empty>\n"
                                      "setoption name SyzygyPath value /nonexistent/tables\n"
                                      "setoption name SyzygyPath value\nquit\n");
    const auto lines = splitLines(out);
    auto has = [&](const std::string& text) { return std::find(lines.begin(), lines.end(), text) != lines.end(); };
    EXPECT_TRUE(has("info string Syzygy tablebases used from directory : " + dir)) << out;
    EXPECT_TRUE(has("info string No Syzygy tablebases found in directory :<empty>")) << out;
    EXPECT_TRUE(has("info string No Syzygy tablebases found in directory :/nonexistent/tables")) << out;
    EXPECT_TRUE(has("info string No Syzygy tablebases found in directory :")) << out;
}

TEST(TablebaseOption, TwoDirectoriesAndTruncatedFile) {
    TempDir a, b;
    a.copyTable("KQvK.rtbw");
    b.copyTable("KRvK.rtbw");
    auto bytes = b.read("KRvK.rtbw");
    bytes.resize(bytes.size() - 10);
    b.write("KBvK.rtbw", bytes);
    const std::string path = a.str() + ";;" + b.str();
    const std::string out = runEngine("setoption name SyzygyPath value " + path + "\nquit\n");
    const auto lines = splitLines(out);
    auto has = [&](const std::string& text) { return std::find(lines.begin(), lines.end(), text) != lines.end(); };
    EXPECT_TRUE(has("info string Incomplete tablebase file KBvK.rtbw")) << out;
    EXPECT_TRUE(has("info string Syzygy tablebases used from directory : " + path)) << out;
}
