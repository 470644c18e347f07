#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/OutputFile.h"
#include "tests/support/TempDir.h"

namespace vornesk {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

std::vector<unsigned char> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

void WriteText(TOutputFile& file, const std::string& text) {
  file.WriteBuffer(text.data(), text.size());
}

TEST(OutputFile, CommittedFileHoldsEverythingWrittenAndNothingElseIsLeft) {
  TempDir dir;
  const std::string path = dir.File("image.bin");
  {
    TOutputFile file(path);
    WriteText(file, "first ");
    // Larger than the internal buffer, so both the buffered and the direct
    // paths are taken.
    file.WriteBuffer(std::string(200000, 'x').data(), 200000);
    WriteText(file, " last");
    file.Commit();
  }
  const auto content = ReadFileBytes(path);
  ASSERT_EQ(content.size(), 6u + 200000u + 5u);
  EXPECT_EQ(std::string(content.begin(), content.begin() + 6), "first ");
  EXPECT_EQ(std::string(content.end() - 5, content.end()), " last");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"image.bin"});
}

TEST(OutputFile, ReplacesALongerFileAsAWhole) {
  TempDir dir;
  const std::string path = dir.File("out.png");
  WriteFileBytes(path, std::string(1000, 'o'));
  TOutputFile file(path);
  WriteText(file, "new");
  file.Commit();
  EXPECT_EQ(ReadFileBytes(path), Bytes("new"));
}

TEST(OutputFile, NothingAppearsAndAnOlderFileSurvivesWithoutCommit) {
  TempDir dir;
  const std::string kept = dir.File("kept.bmp");
  const std::string fresh = dir.File("fresh.bmp");
  WriteFileBytes(kept, "old content");
  {
    TOutputFile a(kept);
    TOutputFile b(fresh);
    WriteText(a, "partial");
    WriteText(b, "partial");
  }
  EXPECT_EQ(ReadFileBytes(kept), Bytes("old content"));
  EXPECT_FALSE(std::filesystem::exists(fresh));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"kept.bmp"});
}

TEST(OutputFile, MissingFolderNamesTheAbsolutePathAndTheReason) {
  TempDir dir;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  try {
    TOutputFile file("missing/sub/../out.png");
    FAIL() << "created a file in a missing folder";
  } catch (const EFCreateError& error) {
    EXPECT_EQ(error.Message(), "Cannot create file \"" + dir.File("missing/out.png") +
                                   "\". No such file or directory");
  }
  std::filesystem::current_path(previous);
}

TEST(OutputFile, AFolderAtThePathCannotBeCreated) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("taken"));
  try {
    TOutputFile file(dir.File("taken"));
    FAIL() << "opened a folder as a file";
  } catch (const EFCreateError& error) {
    EXPECT_EQ(error.Message(), "Cannot create file \"" + dir.File("taken") + "\". Is a directory");
  }
}

TEST(OutputFile, DeviceFilesAreWrittenInPlace) {
  {
    TOutputFile null("/dev/null");
    WriteText(null, "discarded");
    null.Commit();
  }
  struct stat info {};
  ASSERT_EQ(stat("/dev/null", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));

  TOutputFile full("/dev/full");
  WriteText(full, "no room");
  EXPECT_THROW(full.Commit(), EWriteError);
}

TEST(OutputFile, WriteErrorHasTheStreamMessage) {
  TOutputFile full("/dev/full");
  const std::vector<char> block(1 << 20, 'z');
  try {
    full.WriteBuffer(block.data(), block.size());
    full.Commit();
    FAIL() << "a full device took the bytes";
  } catch (const EWriteError& error) {
    EXPECT_EQ(error.Message(), "Stream write error");
  }
}

// A file-size limit makes the system store fewer bytes than asked, as a full
// disk does. Runs in a child so the limit stays there.
TEST(OutputFile, ShortWriteLeavesTheOlderFileAndNoTemporary) {
  TempDir dir;
  const std::string path = dir.File("out.bmp");
  WriteFileBytes(path, "previous image");

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    int status = 3;
    try {
      TOutputFile file(path);
      const std::vector<char> block(100000, 'b');
      file.WriteBuffer(block.data(), block.size());
      file.Commit();
      status = 2;
    } catch (const EWriteError&) {
      status = 0;
    } catch (...) {
    }
    _exit(status);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2: the write succeeded, 3: another failure";
  EXPECT_EQ(ReadFileBytes(path), Bytes("previous image"));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.bmp"});
}

TEST(OutputFile, NewFileFollowsTheUmaskAndAReplacedOneKeepsItsMode) {
  TempDir dir;
  const mode_t previous = umask(022);
  const std::string fresh = dir.File("fresh.jpg");
  const std::string existing = dir.File("existing.jpg");
  WriteFileBytes(existing, "x");
  chmod(existing.c_str(), 0640);
  for (const auto& path : {fresh, existing}) {
    TOutputFile file(path);
    WriteText(file, "data");
    file.Commit();
  }
  umask(previous);
  struct stat info {};
  ASSERT_EQ(stat(fresh.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  ASSERT_EQ(stat(existing.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(OutputFile, ANameAsLongAsTheSystemAllowsCanBeWritten) {
  TempDir dir;
  const long nameMax = pathconf(dir.Path().c_str(), _PC_NAME_MAX);
  ASSERT_GT(nameMax, 4);
  const std::string name = std::string(static_cast<std::size_t>(nameMax) - 4, 'n') + ".png";
  const std::string path = dir.File(name);
  for (const char* content : {"first", "second"}) {  // created, then replaced
    TOutputFile file(path);
    WriteText(file, content);
    file.Commit();
    EXPECT_EQ(ReadFileBytes(path), Bytes(content));
  }
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{name});
}

TEST(OutputFile, ASymbolicLinkIsWrittenThroughAndKept) {
  TempDir dir;
  const std::string target = dir.File("target.png");
  const std::string link = dir.File("link.png");
  WriteFileBytes(target, "old");
  std::filesystem::create_symlink(target, link);
  TOutputFile file(link);
  WriteText(file, "new image");
  file.Commit();
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFileBytes(target), Bytes("new image"));
}

}  // namespace
}  // namespace vornesk

namespace vornesk {
namespace {

// Runs `body` in a child without the privileges that would let it write
// anywhere; its exit status is the result.
int RunUnprivileged(const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(90);
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

TEST(OutputFile, AWritableFileInAFolderWeMayNotAddToIsOverwrittenInPlace) {
  TempDir dir;
  const std::filesystem::path folder = dir.Path() / "locked";
  std::filesystem::create_directory(folder);
  const std::string writable = (folder / "shot.png").string();
  const std::string fresh = (folder / "new.png").string();
  WriteFileBytes(writable, "an older, longer image");
  chmod(dir.Path().c_str(), 0755);
  chmod(writable.c_str(), 0666);
  chmod(folder.c_str(), 0555);

  const int status = RunUnprivileged([&] {
    try {
      TOutputFile file(writable);
      WriteText(file, "new");
      file.Commit();
    } catch (...) {
      return 1;
    }
    try {
      TOutputFile file(fresh);
      return 2;
    } catch (const EFCreateError& error) {
      return error.Message() == "Cannot create file \"" + fresh + "\". Permission denied" ? 0 : 3;
    }
  });
  chmod(folder.c_str(), 0755);
  EXPECT_EQ(status, 0) << "1: the writable file was refused, 2: a new file appeared, "
                          "3: another message";
  EXPECT_EQ(ReadFileBytes(writable), Bytes("new"));
}

}  // namespace
}  // namespace vornesk
