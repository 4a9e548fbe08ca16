#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "comps/recomps/rcFile.h"
#include "comps/recomps/rcOut.h"
#include "qvTestSupport.h"
#include "qvTestUtil.h"

namespace {

// A fresh directory under /tmp (its real path, links resolved), removed with all it holds.
class FileTest : public ::testing::Test {
 protected:
  std::string path(const std::string& leaf) const { return m_tmp.path() + "/" + leaf; }
  void writeFile(const std::string& leaf, const std::string& content, mode_t mode = 0644) const {
    m_tmp.writeFile(leaf, content, mode);
  }
  std::string readFile(const std::string& leaf) const { return qvtest::readFile(path(leaf)); }
  void link(const std::string& target, const std::string& leaf) const {
    ASSERT_EQ(symlink(target.c_str(), path(leaf).c_str()), 0) << leaf;
  }

  qvtest::TempDir m_tmp{"rcFileTest"};
};

std::vector<std::string> readAllLines(rc::File& file, int bufSize = 256) {
  std::vector<std::string> lines;
  std::vector<char> buf(bufSize);
  while (file.readLine2(buf.data(), bufSize) != nullptr) lines.emplace_back(buf.data());
  return lines;
}

void expectErr(const rc::Err& err, int code, int code2, const std::vector<std::string>& args,
               const char* routine) {
  EXPECT_EQ(err.severity(), RC_ERROR);
  EXPECT_EQ(err.code(), code);
  EXPECT_EQ(err.code2(), code2);
  const rc::VarArgs* got = err.args();
  ASSERT_EQ(got != nullptr ? got->size() : 0u, args.size());
  for (size_t i = 0; i < args.size(); ++i) EXPECT_STREQ((*got)[i], args[i].c_str());
  EXPECT_STREQ(err.routine(), routine);
}

constexpr int kUnix = rc::Err::UNIX_ERRNO;

}  // namespace

TEST(File, PathBuildersSplitAtEitherSeparator) {
  const struct {
    const char* path;
    const char* dir;
    const char* leaf;
  } rows[] = {
      {"x", "", "x"},    {"/x", "/", "x"},   {"/a/b", "/a", "b"},
      {"/a/", "/a", ""}, {"a\\b", "a", "b"}, {"c:\\d\\e.f", "c:\\d", "e.f"},
      {"", "", ""},      {"//x", "/", "x"},  {"a/b/c.tar.gz", "a/b", "c.tar.gz"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(rc::File::dirName(r.path), r.dir) << r.path;
    EXPECT_STREQ(rc::File::leafName(r.path), r.leaf) << r.path;
    std::string dir = "stale";
    EXPECT_STREQ(rc::File::splitPath(r.path, &dir), r.leaf) << r.path;
    EXPECT_EQ(dir, r.dir) << r.path;
  }
  EXPECT_STREQ(rc::File::leafName(nullptr), "");
  EXPECT_EQ(rc::File::dirName(nullptr), "");

  const char* path = "/a/b";
  EXPECT_EQ(rc::File::leafName(path), path + 3);  // a pointer into the argument

  EXPECT_EQ(rc::File::concatenatePath("", "x"), "x");
  EXPECT_EQ(rc::File::concatenatePath("/a/", "x"), "/a/x");
  EXPECT_EQ(rc::File::concatenatePath("/a", "x"), "/a/x");
  EXPECT_EQ(rc::File::concatenatePath("c:\\a\\", "x"), "c:\\a\\x");
  EXPECT_EQ(rc::File::concatenatePath(nullptr, "x"), "x");
  EXPECT_EQ(rc::File::concatenatePath("/a", nullptr), "/a/");
}

TEST(File, SuffixAndRootNameLookAtTheLeafOnly) {
  const struct {
    const char* name;
    const char* suffix;
    const char* root;
  } rows[] = {
      {"a.txt", "txt", "a"},
      {"a.tar.gz", "gz", "a.tar"},
      {"noext", "", "noext"},
      {"dir.d/file", "", "dir.d/file"},
      {"dir.d/file.c", "c", "dir.d/file"},
      {".profile", "profile", ""},
      {"trailing.", "", "trailing"},
      {"", "", ""},
  };
  for (const auto& r : rows) {
    EXPECT_STREQ(rc::File::suffix(r.name), r.suffix) << r.name;
    EXPECT_EQ(rc::File::rootName(r.name), r.root) << r.name;
  }
  char* stripped = rc::File::stripSlash("/a//b/c/");
  EXPECT_STREQ(stripped, "abc");
  free(stripped);
  EXPECT_EQ(rc::File::stripSlash(nullptr), nullptr);
}

TEST(File, PathNameClassification) {
  const struct {
    const char* name;
    bool full;
    bool fullWithDot;
    bool relative;
    bool pathName;
  } rows[] = {
      {"/a", true, true, false, true},       {"./a", false, true, true, true},
      {"a/b", false, false, true, true},     {"a", false, false, true, false},
      {"\\a", false, false, false, false},   {"", false, false, false, false},
      {nullptr, false, false, false, false},
  };
  for (const auto& r : rows) {
    const char* label = r.name != nullptr ? r.name : "(null)";
    EXPECT_EQ(rc::File::isFullPathName(r.name), r.full) << label;
    EXPECT_EQ(rc::File::isFullPathName(r.name, true), r.fullWithDot) << label;
    EXPECT_EQ(rc::File::isRelativePathName(r.name), r.relative) << label;
    EXPECT_EQ(rc::File::isPathName(r.name), r.pathName) << label;
  }
  EXPECT_TRUE(rc::File::isReadOnlyMode("r"));
  for (const char* mode : {"rb", "r+", "w", "a", "", static_cast<const char*>(nullptr)}) {
    EXPECT_FALSE(rc::File::isReadOnlyMode(mode)) << (mode != nullptr ? mode : "(null)");
  }
}

TEST(File, AbsolutePathNormalisesWithoutLinks) {
  const struct {
    const char* in;
    const char* out;
  } rows[] = {
      {"/a/./b//c/../d", "/a/b/d"},
      {"/../x", "/../x"},  // nothing above the root to take away
      {"/a/b/..", "/a"},
      {"/a/..", "/"},
      {"/", "/"},
      {"///a///", "/a"},
      {"./x", "x"},
      // A ".." never cancels another "..": these stay equivalent to the input.
      {"a/b/../../../y", "a/../../y"},
      {"../../y", "../../y"},
      {"d/xy/../../y", "d/../y"},
      {"\\\\server\\share\\.\\x", "\\\\server\\share\\x"},
      {"", ""},
  };
  for (const auto& r : rows) EXPECT_EQ(rc::File::absolutePath(r.in), r.out) << r.in;
}

TEST_F(FileTest, LinksAreFollowedOnTheWay) {
  ASSERT_TRUE(rc::File::createDir(path("real/sub").c_str(), true, 0755));
  writeFile("real/sub/f", "x");
  link("real", "rel");              // relative target
  link(path("real") + "/", "abs");  // absolute target with a trailing "/"
  link("rel", "chain");             // link to a link
  link("../abs/sub", "real/up");    // relative target that climbs through a link
  link("loopA", "loopB");           // a loop must end
  link("loopB", "loopA");

  std::string p = path("rel");
  EXPECT_TRUE(rc::File::expandLink(&p));
  EXPECT_EQ(p, path("real"));
  p = path("abs");
  EXPECT_TRUE(rc::File::expandLink(&p));
  EXPECT_EQ(p, path("real"));
  p = path("real");
  EXPECT_FALSE(rc::File::expandLink(&p));
  EXPECT_EQ(p, path("real"));

  const struct {
    std::string in;
    std::string out;
  } rows[] = {
      {path("rel/sub/f"), path("real/sub/f")},          {path("abs/sub/"), path("real/sub")},
      {path("chain/sub/../sub/f"), path("real/sub/f")}, {path("real/up/f"), path("real/sub/f")},
      {path("rel/missing"), path("real/missing")},
  };
  for (const auto& r : rows) EXPECT_EQ(rc::File::absolutePath(r.in.c_str()), r.out) << r.in;

  // The loop is cut off; what comes back still names one of the two links.
  const std::string loop = rc::File::absolutePath(path("loopA").c_str());
  EXPECT_TRUE(loop == path("loopA") || loop == path("loopB")) << loop;
}

TEST_F(FileTest, RelativePathsResolveFromTheCurrentDirectory) {
  ASSERT_TRUE(rc::File::createDir(path("d/e").c_str(), true, 0755));
  qvtest::ScopedCwd cwd(path("d"));
  EXPECT_EQ(rc::File::resolveRelativePath("e/../e/x"), path("d/e/x"));
  EXPECT_EQ(rc::File::resolveRelativePath("/abs/./y"), "/abs/y");
}

TEST_F(FileTest, FindFileSearchesCurrentDirectoryThenPath) {
  ASSERT_TRUE(rc::File::createDir(path("cwd").c_str(), false, 0755));
  ASSERT_TRUE(rc::File::createDir(path("p1").c_str(), false, 0755));
  ASSERT_TRUE(rc::File::createDir(path("p2").c_str(), false, 0755));
  writeFile("cwd/here", "");
  writeFile("p1/tool", "", 0644);  // not executable
  writeFile("p2/tool", "", 0755);
  ASSERT_TRUE(rc::File::createDir(path("p1/dirtool").c_str(), false, 0755));
  writeFile("p2/dirtool", "", 0644);

  qvtest::ScopedCwd cwd(path("cwd"));
  qvtest::ScopedEnv env;
  env.set("PATH", path("p1") + ":" + path("p2"));

  EXPECT_EQ(rc::File::findFile("here", true), "");  // present but not executable
  EXPECT_EQ(rc::File::findFile("here", false), path("cwd/here"));
  EXPECT_EQ(rc::File::findFile("tool", false), path("p1/tool"));
  EXPECT_EQ(rc::File::findFile("tool", true), path("p2/tool"));
  EXPECT_EQ(rc::File::findFile("dirtool", false), path("p2/dirtool"));  // directories skipped
  EXPECT_EQ(rc::File::findFile("absent", false), "");
  EXPECT_EQ(rc::File::findFile(path("p2/tool").c_str(), false), "");  // only relative names
  EXPECT_EQ(rc::File::findFile("", false), "");
  env.set("PATH", "");
  EXPECT_EQ(rc::File::findFile("tool", false), "");
}

TEST_F(FileTest, CreateDirBuildsEveryMissingLevelOnce) {
  const std::string deep = path("a/b/c");
  EXPECT_TRUE(rc::File::createDir(deep.c_str(), true, 0755));
  EXPECT_TRUE(rc::File::isDirectory(path("a").c_str()));
  EXPECT_TRUE(rc::File::isDirectory(path("a/b").c_str()));
  EXPECT_TRUE(rc::File::isDirectory(deep.c_str()));
  EXPECT_TRUE(rc::File::IsEmptyDirectory(deep.c_str()));
  EXPECT_FALSE(rc::File::IsEmptyDirectory(path("a").c_str()));
  EXPECT_TRUE(rc::File::createDir(deep.c_str(), true, 0755));  // again: nothing to do
  EXPECT_TRUE(rc::File::createDir((path("x/y") + "/").c_str(), true, 0755));
  EXPECT_TRUE(rc::File::isDirectory(path("x/y").c_str()));

  // Without allParts a missing parent is an error, stored when err is given ...
  rc::Err err;
  EXPECT_FALSE(rc::File::createDir(path("m/n").c_str(), false, 0755, &err));
  expectErr(err, RC_SC_MKDIR_FAILED, ENOENT | kUnix, {path("m/n")}, "recomps/File::createDir");
  // ... and thrown otherwise.
  EXPECT_THROW(rc::File::createDir(path("m/n").c_str(), false, 0755), rc::Err);

  // A file in the way is a failure, at the end of the path or on the way to it.
  writeFile("plain", "x");
  EXPECT_FALSE(rc::File::createDir(path("plain").c_str(), true, 0755, &err));
  expectErr(err, RC_SC_MKDIR_FAILED, EEXIST | kUnix, {path("plain")}, "recomps/File::createDir");
  EXPECT_FALSE(rc::File::createDir(path("plain/sub/dir").c_str(), true, 0755, &err));
  EXPECT_EQ(err.code(), RC_SC_MKDIR_FAILED);
  EXPECT_EQ(err.code2(), ENOTDIR | kUnix);
}

TEST_F(FileTest, PathQueries) {
  writeFile("data", "12345", 0644);
  writeFile("tool", "", 0755);
  writeFile("execOnly", "", 0100);
  ASSERT_TRUE(rc::File::createDir(path("dir").c_str(), false, 0755));

  EXPECT_TRUE(rc::File::exists(path("data").c_str()));
  EXPECT_TRUE(rc::File::exists(path("dir").c_str()));
  EXPECT_FALSE(rc::File::exists(path("nothing").c_str()));
  EXPECT_FALSE(rc::File::exists(path("data/below").c_str()));  // a file has nothing below it
  EXPECT_FALSE(rc::File::exists(""));
  EXPECT_FALSE(rc::File::exists(nullptr));

  EXPECT_TRUE(rc::File::isReadable(path("data").c_str()));
  EXPECT_FALSE(rc::File::isReadable(path("nothing").c_str()));
  EXPECT_TRUE(rc::File::isExecutable(path("tool").c_str()));
  EXPECT_FALSE(rc::File::isExecutable(path("data").c_str()));
  EXPECT_FALSE(rc::File::isExecutable(path("execOnly").c_str()));  // needs read too
  EXPECT_TRUE(rc::File::isDirWriteExecutable(path("dir").c_str()));
  EXPECT_FALSE(rc::File::isDirWriteExecutable(path("data").c_str()));
  EXPECT_TRUE(rc::File::isDirectory(path("dir").c_str()));
  EXPECT_FALSE(rc::File::isDirectory(path("data").c_str()));
  EXPECT_FALSE(rc::File::isDirectory(nullptr));

  EXPECT_EQ(rc::File::fileSize(path("data").c_str()), 5);
  EXPECT_EQ(rc::File::fileSize(path("nothing").c_str()), 0);
  EXPECT_GT(rc::File::fileModTime(path("data").c_str()), 0);
  EXPECT_EQ(rc::File::fileModTime(path("nothing").c_str()), 0);

  const rc::Err err =
      qvtest::thrownErr([&] { rc::File::IsEmptyDirectory(path("nothing").c_str()); });
  expectErr(err, RC_SC_OPEN_FAILED, ENOENT | kUnix, {path("nothing")}, "");
}

TEST_F(FileTest, RenameAndDelete) {
  writeFile("old", "content");
  rc::Err err;
  EXPECT_TRUE(rc::File::rename(path("old").c_str(), "new", &err));  // a bare name stays put
  EXPECT_FALSE(rc::File::exists(path("old").c_str()));
  EXPECT_EQ(readFile("new"), "content");

  ASSERT_TRUE(rc::File::createDir(path("sub").c_str(), false, 0755));
  EXPECT_TRUE(rc::File::rename(path("new").c_str(), path("sub/moved").c_str()));
  EXPECT_EQ(readFile("sub/moved"), "content");

  EXPECT_FALSE(rc::File::rename(path("gone").c_str(), "other", &err));
  expectErr(err, RC_SC_RENAME_FAILED, ENOENT | kUnix, {path("gone"), path("other")}, "");

  EXPECT_TRUE(rc::File::deleteFile(path("sub/moved").c_str(), &err));
  EXPECT_FALSE(rc::File::exists(path("sub/moved").c_str()));
  EXPECT_FALSE(rc::File::deleteFile(path("sub/moved").c_str(), &err));
  expectErr(err, RC_SC_UNLINK_FAILED, ENOENT | kUnix, {path("sub/moved")}, "");
  EXPECT_THROW(rc::File::deleteFile(path("sub/moved").c_str()), rc::Err);
}

TEST_F(FileTest, ReadLineHandlesLineEndsAndMissingFinalNewline) {
  const struct {
    const char* content;
    std::vector<std::string> lines;
  } rows[] = {
      {"a\nb\n", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\r\nlast", {"a", "last"}},
      {"only", {"only"}},
      {"\n\r\n\n", {"", "", ""}},
      {"x\r\r\n", {"x\r"}},  // one carriage return goes, not every one
      {"mid\rdle\n", {"mid\rdle"}},
      {"", {}},
  };
  for (const auto& r : rows) {
    writeFile("lines", r.content);
    rc::File file;
    ASSERT_TRUE(file.open(path("lines").c_str(), "r"));
    EXPECT_EQ(readAllLines(file), r.lines) << r.content;
    EXPECT_TRUE(file.isEof());
    rc::Err err(RC_ERROR, RC_SC_TST_1, "stale");
    char buf[8];
    EXPECT_EQ(file.readLine2(buf, sizeof buf, &err), nullptr);
    EXPECT_EQ(err.code(), 0);  // the end of the file clears the error
    EXPECT_TRUE(file.close2());
  }
}

TEST_F(FileTest, ReadLineAcrossManyBufferFills) {
  // Lines of every length from 0 to 299, in both line-end styles, well beyond one buffer.
  std::string content;
  std::vector<std::string> expected;
  for (int round = 0; round < 4; ++round) {
    for (int len = 0; len < 300; ++len) {
      std::string line(len, static_cast<char>('a' + (len + round) % 26));
      content += line + (len % 3 == 0 ? "\r\n" : "\n");
      expected.push_back(line);
    }
  }
  content += "tail";
  expected.push_back("tail");
  writeFile("many", content);
  rc::File file;
  ASSERT_TRUE(file.open(path("many").c_str(), "r"));
  EXPECT_EQ(readAllLines(file, 512), expected);

  // Lines and blocks share the stream's position.
  ASSERT_TRUE(file.open(path("many").c_str(), "r"));
  char buf[8];
  EXPECT_STREQ(file.readLine2(buf, sizeof buf), "");
  EXPECT_STREQ(file.readLine2(buf, sizeof buf), "b");
  EXPECT_EQ(file.read2(buf, 3), 3u);
  EXPECT_EQ(std::string(buf, 3), "cc\n");
}

TEST_F(FileTest, ReadLineRejectsLinesLongerThanTheBuffer) {
  writeFile("lines", "abcde\nabcdefg\nxyz\nabcde");
  rc::File file;
  ASSERT_TRUE(file.open(path("lines").c_str(), "r"));
  char buf[6];  // room for five characters
  rc::Err err;
  EXPECT_STREQ(file.readLine2(buf, sizeof buf, &err), "abcde");  // fits exactly
  EXPECT_EQ(file.readLine2(buf, sizeof buf, &err), nullptr);
  EXPECT_EQ(err.code(), RC_SC_READ_FAILED);
  EXPECT_EQ(err.code2(), RC_SC_BUF_TOO_SMALL);
  ASSERT_NE(err.args2(), nullptr);
  EXPECT_STREQ((*err.args2())[0], "6");
  ASSERT_NE(err.args(), nullptr);
  EXPECT_EQ((*err.args())[0], path("lines"));
  EXPECT_STREQ(err.routine(), "recomps/File::readLine2");
  EXPECT_STREQ(file.readLine2(buf, sizeof buf, &err), "fg");  // the rest of the long line
  EXPECT_STREQ(file.readLine2(buf, sizeof buf, &err), "xyz");
  EXPECT_STREQ(file.readLine2(buf, sizeof buf, &err), "abcde");  // last line, exact fit
  EXPECT_EQ(file.readLine2(buf, sizeof buf, &err), nullptr);
  EXPECT_EQ(err.code(), 0);
  EXPECT_THROW(file.readLine2(buf, 1), rc::Err);  // no room for any character
}

TEST_F(FileTest, OpenCreatesParentsOnlyWhenAskedAndWriting) {
  const std::string deep = path("p/q/out.txt");
  rc::File file;
  rc::Err err;
  EXPECT_FALSE(file.open(deep.c_str(), "w", &err));
  expectErr(err, RC_SC_OPEN_FAILED, ENOENT | kUnix, {deep}, "");
  EXPECT_FALSE(file.isOpen());
  EXPECT_FALSE(file.open(deep.c_str(), "r", true, &err));  // reading never creates
  EXPECT_FALSE(rc::File::exists(path("p").c_str()));
  EXPECT_THROW(file.open(deep.c_str(), "w"), rc::Err);

  ASSERT_TRUE(file.open(deep.c_str(), "w", true, &err));
  EXPECT_EQ(file.fileType(), rc::File::FT_FILE);
  EXPECT_EQ(file.fileName(), deep);
  EXPECT_TRUE(file.print2("hello\n"));
  EXPECT_EQ(file.write2("raw", 3), 3u);
  EXPECT_TRUE(file.flush2());
  EXPECT_EQ(file.fileSize(), 9);
  EXPECT_TRUE(file.close2());
  EXPECT_EQ(file.fileType(), rc::File::FT_NONE);
  EXPECT_EQ(readFile("p/q/out.txt"), "hello\nraw");

  // A parent that cannot be made (a dangling link holds its name): the open fails with the
  // reason the directory could not be made.
  link("/nonexistent/target", "dangling");
  EXPECT_FALSE(file.open(path("dangling/f").c_str(), "w", true, &err));
  expectErr(err, RC_SC_OPEN_FAILED, EEXIST | kUnix, {path("dangling/f")}, "");

  EXPECT_FALSE(file.open(path("x").c_str(), nullptr, &err));
  EXPECT_EQ(err.code(), RC_SC_OPEN_FAILED);
}

TEST_F(FileTest, ReadReturnsWhatTheFileHolds) {
  writeFile("bytes", std::string("ab\0cd", 5));
  rc::File file;
  ASSERT_TRUE(file.open(path("bytes").c_str(), "rb"));
  char buf[16];
  EXPECT_EQ(file.read2(buf, 0), 0u);
  EXPECT_EQ(file.read2(buf, 2), 2u);
  EXPECT_EQ(std::string(buf, 2), "ab");
  EXPECT_EQ(file.read2(buf, sizeof buf), 3u);
  EXPECT_EQ(std::string(buf, 3), std::string("\0cd", 3));
  EXPECT_EQ(file.read(buf, sizeof buf), 0u);
  EXPECT_TRUE(file.isEof());
}

TEST_F(FileTest, FailuresOfTheStreamCarryTheSystemError) {
  rc::File file;
  rc::Err err;
  // A directory opens for reading but cannot be read.
  ASSERT_TRUE(file.open(m_tmp.path().c_str(), "r"));
  char buf[64];
  EXPECT_EQ(file.read2(buf, sizeof buf, &err), 0u);
  expectErr(err, RC_SC_READ_FAILED, EISDIR | kUnix, {m_tmp.path()}, "recomps/File::read2");
  EXPECT_EQ(file.readLine2(buf, sizeof buf, &err), nullptr);
  expectErr(err, RC_SC_READ_FAILED, EISDIR | kUnix, {m_tmp.path()}, "recomps/File::readLine2");
  file.close();

  // /dev/full takes nothing: a write larger than the stream's buffer fails at once, a small
  // print when it is flushed.
  ASSERT_TRUE(file.open("/dev/full", "w"));
  const std::string big(1 << 16, 'x');
  EXPECT_LT(file.write2(big.data(), big.size(), &err), big.size());
  expectErr(err, RC_SC_WRITE_FAILED, ENOSPC | kUnix, {"/dev/full"}, "recomps/File::write2");
  EXPECT_FALSE(file.print2(big.c_str(), &err));
  expectErr(err, RC_SC_PRINT_FAILED, ENOSPC | kUnix, {"/dev/full"}, "recomps/File::print2");
  file.print("x");
  EXPECT_FALSE(file.flush2(&err));
  expectErr(err, RC_SC_FLUSH_FAILED, ENOSPC | kUnix, {"/dev/full"}, "recomps/File::flush2");
  file.print("y");
  EXPECT_FALSE(file.close2(&err));  // the final flush fails; the handle is closed all the same
  expectErr(err, RC_SC_CLOSE_FAILED, ENOSPC | kUnix, {"/dev/full"}, "");
  EXPECT_FALSE(file.isOpen());
  EXPECT_EQ(file.fileType(), rc::File::FT_NONE);
}

TEST(File, OperationsOnAClosedHandleNameTheirOwnCode) {
  rc::File file;
  char buf[8];
  rc::Err err;
  const struct {
    int code;
    const char* routine;
    std::function<void(rc::Err*)> op;
  } rows[] = {
      {RC_SC_READ_FAILED, "recomps/File::readLine2",
       [&](rc::Err* e) { EXPECT_EQ(file.readLine2(buf, sizeof buf, e), nullptr); }},
      {RC_SC_READ_FAILED, "recomps/File::read2",
       [&](rc::Err* e) { EXPECT_EQ(file.read2(buf, sizeof buf, e), 0u); }},
      {RC_SC_WRITE_FAILED, "recomps/File::write2",
       [&](rc::Err* e) { EXPECT_EQ(file.write2(buf, sizeof buf, e), 0u); }},
      {RC_SC_PRINT_FAILED, "recomps/File::print2",
       [&](rc::Err* e) { EXPECT_FALSE(file.print2("x", e)); }},
      {RC_SC_FLUSH_FAILED, "recomps/File::flush2",
       [&](rc::Err* e) { EXPECT_FALSE(file.flush2(e)); }},
  };
  for (const auto& r : rows) {
    r.op(&err);
    expectErr(err, r.code, RC_SC_FILE_NOT_OPEN, {""}, r.routine);
    EXPECT_EQ(err.args2(), nullptr);
    const rc::Err thrown = qvtest::thrownErr([&] { r.op(nullptr); });
    EXPECT_EQ(thrown.code(), r.code);
  }
  // The plain forms and closing never report.
  EXPECT_EQ(file.readLine(buf, sizeof buf), nullptr);
  EXPECT_EQ(file.read(buf, sizeof buf), 0u);
  EXPECT_EQ(file.write(buf, sizeof buf), 0u);
  file.print("x");
  file.print(RC_ERROR, "x");
  file.flush();
  EXPECT_TRUE(file.close2());
  EXPECT_TRUE(file.pclose2());
  EXPECT_FALSE(file.isEof());
}

TEST_F(FileTest, PipesRunRealCommands) {
  rc::File pipe;
  rc::Err err;
  ASSERT_TRUE(pipe.popen("printf 'one\\r\\ntwo\\nthree'", "r", &err));
  EXPECT_EQ(pipe.fileType(), rc::File::FT_PIPE);
  EXPECT_EQ(readAllLines(pipe), (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_TRUE(pipe.pclose2(&err));
  EXPECT_FALSE(pipe.isOpen());

  const std::string out = path("fromPipe");
  ASSERT_TRUE(pipe.popen(("cat > " + out).c_str(), "w"));
  EXPECT_TRUE(pipe.print2("through the pipe\n"));
  EXPECT_TRUE(pipe.pclose2());
  EXPECT_EQ(readFile("fromPipe"), "through the pipe\n");

  ASSERT_TRUE(pipe.popen("exit 3", "r"));
  EXPECT_FALSE(pipe.pclose2(&err));
  expectErr(err, RC_SC_PCLOSE_FAILED, 0, {"exit 3"}, "");
  EXPECT_FALSE(pipe.isOpen());

  EXPECT_FALSE(pipe.popen("true", "x", &err));  // a mode popen refuses
  expectErr(err, RC_SC_POPEN_FAILED, EINVAL | kUnix, {"true"}, "");
}

TEST_F(FileTest, ClosingTheWrongKindIsAnInternalError) {
  rc::Assert::setAbortOnFail(false);
  rc::File pipe;
  ASSERT_TRUE(pipe.popen("true", "r"));
  EXPECT_THROW(pipe.close2(), rc::IntnlErr);
  EXPECT_TRUE(pipe.isOpen());
  EXPECT_TRUE(pipe.pclose2());
  rc::File file;
  ASSERT_TRUE(file.open("/dev/null", "r"));
  EXPECT_THROW(file.pclose2(), rc::IntnlErr);
  EXPECT_TRUE(file.close2());
  rc::Assert::setAbortOnFail(true);
}

TEST_F(FileTest, DestructorClosesFilesAndWaitsForCommands) {
  {
    rc::File file;
    ASSERT_TRUE(file.open(path("kept").c_str(), "w"));
    file.print("buffered");
  }
  EXPECT_EQ(readFile("kept"), "buffered");
  {
    rc::File pipe;
    ASSERT_TRUE(pipe.popen(("cat > " + path("piped")).c_str(), "w"));
    pipe.print("piped");
  }
  // pclose waited for the command, so its output is complete.
  EXPECT_EQ(readFile("piped"), "piped");
}

TEST_F(FileTest, FdopenWrapsADescriptor) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  rc::File writer;
  ASSERT_TRUE(writer.fdopen(fds[1], "w"));
  writer.print("over fd\n");
  EXPECT_TRUE(writer.close2());
  rc::File reader;
  ASSERT_TRUE(reader.fdopen(fds[0], "r"));
  EXPECT_EQ(readAllLines(reader), std::vector<std::string>{"over fd"});
  reader.close();

  rc::Err err;
  EXPECT_FALSE(reader.fdopen(-1, "r", &err));
  EXPECT_EQ(err.code(), RC_SC_OPEN_FAILED);
  EXPECT_EQ(err.code2(), EBADF | kUnix);
}

TEST_F(FileTest, AFileIsAnOutputDevice) {
  rc::File file;
  ASSERT_TRUE(file.open(path("device").c_str(), "w"));
  {
    qvtest::StdStreamsCapture toFile(&file);
    rc::Out::instance()->print(rc::Err(RC_ERROR, RC_SC_OPEN_FAILED, rc::VarArgs() << "f", ""),
                               true);
  }
  file.close();
  const std::string text = readFile("device");
  EXPECT_NE(text.find("Error"), std::string::npos) << text;
  EXPECT_EQ(text.back(), '\n');
}

TEST(File, AnEmptyNameMeansTheStandardStreams) {
  const auto written = qvtest::runInChild([] {
    rc::File file;
    if (!file.open("", "w")) _exit(2);
    file.print("to stdout\n");
    file.close();  // closes standard output itself
    _exit(fprintf(stdout, "more") < 0 ? 0 : 1);
  });
  EXPECT_EQ(written.exitStatus, 0);
  EXPECT_EQ(written.out, "to stdout\n");

  const auto read = qvtest::runInChild([] {
    int fds[2];
    if (pipe(fds) != 0 || dup2(fds[0], 0) < 0) _exit(2);
    const char text[] = "from stdin\r\n";
    if (::write(fds[1], text, sizeof text - 1) < 0) _exit(2);
    ::close(fds[1]);
    rc::File file;
    char buf[32];
    if (!file.open("", "rb") || file.readLine(buf, sizeof buf) == nullptr) _exit(3);
    printf("[%s]", buf);
    fflush(stdout);
    _exit(file.readLine(buf, sizeof buf) == nullptr ? 0 : 4);
  });
  EXPECT_EQ(read.exitStatus, 0);
  EXPECT_EQ(read.out, "[from stdin]");
}
