// The batch's work list: what a tree or a manifest gives, in which order, and how shards
// split it.
#include "work_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "code_exception.h"
#include "test_files.h"

namespace {

std::vector<std::string> Keys(const std::vector<WorkItem>& items) {
    std::vector<std::string> keys;
    for (const WorkItem& item : items) keys.push_back(item.key);
    return keys;
}

int CodeOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const CorvidaUtils::CodeException& e) {
        return e.status().code();
    }
    return 0;
}

TEST(WorkListTest, ShardsSplitTheListIntoDisjointSharesThatCoverIt) {
    std::vector<WorkItem> items;
    for (int i = 0; i < 300; ++i) {
        items.push_back({"", "", "day" + std::to_string(i % 7) + "/take" + std::to_string(i), ""});
    }
    std::set<std::string> seen;
    for (uint32_t index = 0; index < 4; ++index) {
        const std::vector<WorkItem> shard = TakeShard(items, index, 4);
        EXPECT_GT(shard.size(), 40u) << "shard " << index << " of an even split";
        for (const WorkItem& item : shard) EXPECT_TRUE(seen.insert(item.key).second);
    }
    EXPECT_EQ(seen.size(), items.size());
    // Machines running other builds must agree: the hash is fixed, not the library's.
    EXPECT_EQ(ShardOf("day1/take1.wav", 1000), 97u);  // FNV-1a, 64 bits
    EXPECT_EQ(ShardOf("", 8), 14695981039346656037ull % 8);
}

TEST(WorkListTest, ATreeGivesItsWavFilesByRelativePathPassingOverHiddenNames) {
    WorkDir work;
    namespace fs = std::filesystem;
    for (const char* name : {"in/b.WAV", "in/a/z.wav", "in/a/notes.txt", "in/.hidden.wav",
                             "in/.partial/x.wav", "in/a/.x.wav.pellion-partial", "in/c.wave"}) {
        fs::create_directories(fs::path(work.path(name)).parent_path());
        WriteWholeFile(work.path(name), std::string("x"));
    }
    fs::create_directories(work.path("in/d.wav"));  // a directory, not a file
    const std::vector<WorkItem> items = ListInputTree(work.path("in/"), work.path("out"));
    EXPECT_EQ(Keys(items), (std::vector<std::string>{"a/z.wav", "b.WAV"}));
    EXPECT_EQ(items[0].input, work.path("in/a/z.wav"));
    EXPECT_EQ(items[0].output, work.path("out/a/z.wav"));
    EXPECT_EQ(items[0].inputName, "a/z.wav");

    EXPECT_EQ(CodeOf([&] { ListInputTree(work.path("in"), work.path("in/out")); }), 43);
    EXPECT_EQ(CodeOf([&] { ListInputTree(work.path("in"), work.path("in")); }), 43);
    EXPECT_EQ(CodeOf([&] { ListInputTree(work.path("none"), work.path("out")); }), 44);
}

TEST(WorkListTest, AManifestGivesItsPairsSortedAndRefusesWhatIsNoPair) {
    const std::vector<WorkItem> items =
        ParseManifest("b.wav\tday/b.wav\r\n\n/abs/a.wav\t/out/a.wav\n", "OUT");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].input, "/abs/a.wav");
    EXPECT_EQ(items[0].output, "/out/a.wav");
    EXPECT_EQ(items[1].output, "OUT/day/b.wav");
    EXPECT_EQ(items[1].key, "day/b.wav");
    EXPECT_EQ(items[1].inputName, "b.wav");
    EXPECT_EQ(ParseManifest("a.wav\tb.wav\n", "")[0].output, "b.wav");

    for (const char* bad :
         {"a.wav b.wav\n", "a.wav\t\n", "\tb.wav\n", "a\tb\tc\n", "a.wav\tx.wav\nb.wav\tx.wav\n"}) {
        EXPECT_EQ(CodeOf([&] { ParseManifest(bad, ""); }), 43) << bad;
    }
}

}  // namespace
