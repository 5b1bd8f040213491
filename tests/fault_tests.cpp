// Faults the Linux program must survive without losing or tearing a file:
// concurrent runs, a full disk, a file-size limit, huge sparse sources and
// argument texts drawn at random or at the host's limits.
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using harness::Tree;

bool HoldsTemporary(const fs::path& root) {
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename().string().starts_with(".tarvik-")) {
            return true;
        }
    }
    return false;
}

TEST(Faults, SixteenRunsAtOnceOnSharedChains) {
    const std::string shared = "A/B/C/D/E/F/G/H/";
    const std::string partly = "A/B/C/D/X/Y/Z/W/";
    for (int round = 0; round < 4; ++round) {
        const auto root = harness::Scratch("race" + std::to_string(round));
        Tree sources;
        for (int i = 0; i < 16; ++i) {
            // Sizes differ so that a torn or mixed copy shows.
            sources.push_back(
                "s" + std::to_string(i) + "=" +
                std::string(static_cast<size_t>(1000 * (i + 1)), static_cast<char>('a' + i)));
        }
        harness::Build(root, sources);
        std::vector<harness::Outcome> outcomes(16);
        std::vector<std::thread> runs;
        for (int i = 0; i < 16; ++i) {
            const std::string chain = i % 2 == 0 ? shared : partly;
            runs.emplace_back([&, i, chain] {
                outcomes[static_cast<size_t>(i)] =
                    harness::Run({"s" + std::to_string(i) + "," + chain + ",t.log"}, root);
            });
        }
        for (auto& run : runs) {
            run.join();
        }
        for (const auto& outcome : outcomes) {
            harness::ExpectQuiet(outcome, "race run");
        }
        for (const std::string& chain : {shared, partly}) {
            std::ifstream target(root / chain / "t.log", std::ios::binary);
            const std::string copy{std::istreambuf_iterator<char>(target), {}};
            const bool isASource =
                std::any_of(sources.begin(), sources.end(), [&](const std::string& s) {
                    return s.substr(s.find('=') + 1) == copy;
                });
            EXPECT_TRUE(isASource) << chain << " holds " << copy.size() << " bytes of no source";
        }
        EXPECT_FALSE(HoldsTemporary(root));
    }
}

TEST(Faults, FileSizeLimitLeavesTheTargetWhole) {
    const auto root = harness::Scratch("fsize");
    harness::Build(root, {"Logs/", "Logs/a.log=old", "a.log=" + std::string(1 << 20, 'x')});
    harness::RunOptions limited;
    limited.fileSizeLimit = 64 * 1024;
    harness::ExpectQuiet(harness::Run({"a.log,Logs/,a.log"}, root, limited), "file-size limit");
    const Tree after = harness::List(root);
    EXPECT_EQ(after[1], "Logs/a.log=old");
    EXPECT_FALSE(HoldsTemporary(root));
}

// Root only: a tiny file system that fills up in the middle of the copy.
TEST(RootFaults, FullFileSystemLeavesTheTargetWhole) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to mount a small file system";
    }
    const auto root = harness::Scratch("full");
    harness::Build(root, {"small/", "a.log=" + std::string(4 << 20, 'x')});
    if (mount("tarvik-test", (root / "small").c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "cannot mount tmpfs here";
    }
    harness::Build(root, {"small/a.log=old"});
    harness::ExpectQuiet(harness::Run({"a.log,small/,a.log"}, root), "full file system");
    std::ifstream target(root / "small/a.log");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(target), {}), "old");
    EXPECT_FALSE(HoldsTemporary(root / "small"));
    umount((root / "small").c_str());
}

void WriteAt(int fd, off_t offset, const std::string& data) {
    ASSERT_EQ(pwrite(fd, data.data(), data.size(), offset), static_cast<ssize_t>(data.size()));
}

std::string ReadAt(const fs::path& file, off_t offset, size_t size) {
    std::string data(size, '\0');
    const int fd = open(file.c_str(), O_RDONLY);
    const ssize_t got = pread(fd, data.data(), size, offset);
    close(fd);
    data.resize(got < 0 ? 0 : static_cast<size_t>(got));
    return data;
}

TEST(SlowFaults, SparseSourceAboveFourGiBCopiesWholeAndSparse) {
    const auto root = harness::Scratch("sparse");
    harness::Build(root, {"Logs/"});
    const off_t size = (5LL << 30) + 123;
    const std::vector<std::pair<off_t, std::string>> pieces{
        {0, "head"}, {(4LL << 30) + 4096, "past four GiB"}, {size - 4, "tail"}};
    const int fd = open((root / "big").c_str(), O_WRONLY | O_CREAT, 0640);
    for (const auto& [offset, data] : pieces) {
        WriteAt(fd, offset, data);
    }
    close(fd);
    harness::ExpectQuiet(harness::Run({"big,Logs/,big"}, root, {.timeoutMs = 60000}), "sparse");
    const fs::path copy = root / "Logs/big";
    ASSERT_TRUE(fs::exists(copy));
    EXPECT_EQ(fs::file_size(copy), static_cast<uintmax_t>(size));
    for (const auto& [offset, data] : pieces) {
        EXPECT_EQ(ReadAt(copy, offset, data.size()), data) << offset;
    }
    EXPECT_EQ(ReadAt(copy, 1LL << 30, 8), std::string(8, '\0'));
    struct stat status;
    ASSERT_EQ(stat(copy.c_str(), &status), 0);
    EXPECT_LT(status.st_blocks * 512, 16 << 20) << "the holes were filled";
    EXPECT_EQ(status.st_mode & 07777, 0640u & ~0u);
    fs::remove_all(root);
}

TEST(Faults, KeepsPermissionBitsAndModificationTime) {
    const auto root = harness::Scratch("modes");
    harness::Build(root, {"Logs/", "a.log=new"});
    chmod((root / "a.log").c_str(), 06751); // set-id bits must not travel
    const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 123456789}};
    utimensat(AT_FDCWD, (root / "a.log").c_str(), times, 0);
    harness::ExpectQuiet(harness::Run({"a.log,Logs/,a.log"}, root), "modes");
    struct stat status;
    ASSERT_EQ(stat((root / "Logs/a.log").c_str(), &status), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(status.st_mode & 07777, 0751u & ~mask);
    EXPECT_EQ(status.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(status.st_mtim.tv_nsec, 123456789);
}

// Random texts that cannot name anything outside the scratch folder: no
// field starts with "/" and no ".." appears.
std::string RandomText(std::mt19937& random) {
    static const std::string alphabet = ",,,  \"\".//abAB\x80\xc3\xff";
    std::string text(random() % 24, ' ');
    for (char& c : text) {
        c = alphabet[random() % alphabet.size()];
    }
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '/' && (i == 0 || text[i - 1] == ',')) {
            text[i] = 'a';
        }
        if (text[i] == '.' && i > 0 && text[i - 1] == '.') {
            text[i] = 'b';
        }
    }
    return text;
}

TEST(SlowFaults, RandomArgumentTextsStayInsideTheScratchFolder) {
    const auto root = harness::Scratch("random");
    harness::Build(root, {"inside/", "inside/a.log=data", "inside/ab=data", "outside=keep"});
    std::mt19937 random(20261207);
    for (int i = 0; i < 2000; ++i) {
        const std::string text = RandomText(random);
        const auto outcome = harness::Run({text}, root / "inside", {.timeoutMs = 1000});
        harness::ExpectQuiet(outcome, text);
        if (!outcome.finished || !outcome.exitedZero || !outcome.output.empty()) {
            break;
        }
    }
    const Tree after = harness::List(root);
    EXPECT_EQ(after.back(), "outside=keep");
    EXPECT_EQ(std::count_if(after.begin(), after.end(),
                            [](const std::string& e) { return !e.starts_with("inside/"); }),
              1);
}

TEST(Faults, ArgumentTextsAtTheHostsLimits) {
    const auto root = harness::Scratch("limits");
    harness::Build(root, {"a.log=data"});
    std::string deepest;
    while (deepest.size() + 2 < PATH_MAX - 1) {
        deepest += "d/";
    }
    const std::string beyond = deepest + "e/f/";
    const std::vector<std::pair<std::string, std::string>> texts{
        {"largest argument", "a.log,x/," + std::string(128 * 1024 - 16, 'n')},
        {"thousands of commas", std::string(100000, ',')},
        {"thousands of separators", "a.log," + std::string(100000, '/') + ",a.log"},
        {"a chain beyond the path-length limit", "a.log," + beyond + ",a.log"},
        {"a chain right at the path-length limit", "a.log," + deepest + ",a"},
    };
    for (const auto& [what, text] : texts) {
        harness::ExpectQuiet(harness::Run({text}, root, {.timeoutMs = 20000}), what);
    }
    // Only the chain at the limit is made, with every folder of it.
    ASSERT_EQ(chdir(root.c_str()), 0);
    EXPECT_TRUE(fs::is_directory(deepest));
    EXPECT_TRUE(fs::is_directory("x"));
    EXPECT_FALSE(fs::exists(deepest + "e"));
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 3);
    ASSERT_EQ(chdir("/"), 0);
    fs::remove_all(root);
}

} // namespace
