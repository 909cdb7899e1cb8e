#include "app/files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace smfasm {
namespace {

namespace fs = std::filesystem;

class Files : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "smfasm-files-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string at(const std::string& name) const { return (dir_ / name).string(); }

    // A finished temporary file beside `name` holding `text`.
    std::string finished(const std::string& name, const std::string& text) const {
        std::string temp;
        const int fd = create_temp_beside(at(name), temp);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
        return temp;
    }

    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        return content.str();
    }

    fs::path dir_;
};

TEST(BackupName, ReplacesTheLastDotPart) {
    const struct {
        const char* name;
        int dollars;
        const char* extension;
        const char* backup;
    } rows[] = {{"song.mid", 1, ".mid", "song$.mid"},
                {"song.mtx", 3, ".mtx", "song$$$.mtx"},
                {"out", 1, ".mtx", "out$.mtx"},
                {"dir.old/song", 2, ".mid", "dir$$.mid"},
                {".mid", 1, ".mid", "$.mid"}};
    for (const auto& r : rows) EXPECT_EQ(backup_name(r.name, r.dollars, r.extension), r.backup) << r.name;
}

TEST_F(Files, TempFileSitsBesideTheNameWithTheUsualMode) {
    const mode_t mask = umask(022);
    std::string first;
    std::string second;
    const int a = create_temp_beside(at("song.mid"), first);
    const int b = create_temp_beside(at("song.mid"), second);
    umask(mask);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    close(a);
    close(b);
    EXPECT_NE(first, second);
    EXPECT_EQ(fs::path(first).parent_path(), dir_);
    EXPECT_EQ(fs::status(first).permissions(), static_cast<fs::perms>(0644));

    std::string temp;
    EXPECT_EQ(create_temp_beside(at("missing/song.mid"), temp), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(Files, InstallingOntoATakenNameMovesTheEarlierFileAside) {
    bool backup_failed = true;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(install_file(finished("song.mid", "first"), at("song.mid"), ".mid", backup_failed));
    EXPECT_FALSE(backup_failed);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    // As if another run had installed its file between two tries: the first
    // result ends up under the backup name, nothing is replaced.
    testing::internal::CaptureStderr();
    EXPECT_TRUE(install_file(finished("song.mid", "second"), at("song.mid"), ".mid", backup_failed));
    EXPECT_EQ(
        testing::internal::GetCapturedStderr(),
        "Notice: Output file " + at("song.mid") + " already exits.\n\tIt is renamed as " + at("song$.mid") + "\n");
    testing::internal::CaptureStderr();
    EXPECT_TRUE(install_file(finished("song.mid", "third"), at("song.mid"), ".mid", backup_failed));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(read(at("song.mid")), "third");
    EXPECT_EQ(read(at("song$.mid")), "first");
    EXPECT_EQ(read(at("song$$.mid")), "second");
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
}

TEST_F(Files, NeverInstalledInPlaceOfADirectoryOrFifo) {
    fs::create_directory(at("dir.mid"));
    ASSERT_EQ(mkfifo(at("pipe.mid").c_str(), 0600), 0);
    const struct {
        const char* name;
        int error;
    } rows[] = {{"dir.mid", EISDIR}, {"pipe.mid", EEXIST}};
    for (const auto& r : rows) {
        const std::string temp = finished(r.name, "data");
        bool backup_failed = true;
        EXPECT_FALSE(install_file(temp, at(r.name), ".mid", backup_failed)) << r.name;
        EXPECT_EQ(errno, r.error) << r.name;
        EXPECT_FALSE(backup_failed);
        EXPECT_EQ(read(temp), "data");
        EXPECT_FALSE(fs::exists(at(r.name).substr(0, at(r.name).size() - 4) + "$.mid"));
    }
    EXPECT_TRUE(fs::is_directory(at("dir.mid")));
    EXPECT_TRUE(fs::is_fifo(at("pipe.mid")));
}

TEST_F(Files, OpenOutputMovesRegularFilesAndLinksButNotFifosOrDirectories) {
    std::ofstream(at("song.mtx")) << "old";
    fs::create_symlink(at("nowhere"), at("dangling.mtx"));
    testing::internal::CaptureStderr();
    for (const char* name : {"song.mtx", "dangling.mtx", "new.mtx"}) {
        const opened_output opened = open_output(at(name), ".mtx");
        EXPECT_GE(opened.fd, 0) << name;
        close(opened.fd);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(at(name)))) << name;
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(read(at("song$.mtx")), "old");
    EXPECT_TRUE(fs::is_symlink(at("dangling$.mtx")));

    // A FIFO (with a reader, so that opening it does not wait) is written as
    // it stands, like a device.
    ASSERT_EQ(mkfifo(at("pipe.mtx").c_str(), 0600), 0);
    const int reader = open(at("pipe.mtx").c_str(), O_RDONLY | O_NONBLOCK);
    const opened_output fifo = open_output(at("pipe.mtx"), ".mtx");
    EXPECT_GE(fifo.fd, 0);
    EXPECT_EQ(write(fifo.fd, "x", 1), 1);
    close(fifo.fd);
    close(reader);
    EXPECT_TRUE(fs::is_fifo(at("pipe.mtx")));
    EXPECT_FALSE(fs::exists(at("pipe$.mtx")));
    fs::create_directory(at("dir.mtx"));
    const opened_output directory = open_output(at("dir.mtx"), ".mtx");
    EXPECT_EQ(directory.fd, -1);
    EXPECT_EQ(directory.error, EISDIR);
    EXPECT_FALSE(directory.backup_failed);
    EXPECT_FALSE(fs::exists(at("dir$.mtx")));
}

}  // namespace
}  // namespace smfasm
