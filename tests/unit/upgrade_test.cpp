// morvanfn-upgrade's pieces that need no engine: what a terminal is shown,
// the lines between steps, the names a run makes, paths, and files touched
// by handle (never through a link, never replacing anything).
#include "tool.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace upgrade;

TEST(Visible, ControlsBecomeEscapes)
{
    EXPECT_EQ(visible("a\x1b[2Jb"), "a\\x1b[2Jb");
    EXPECT_EQ(visible("U\rmorvanfn-upgrade: done"), "U\\x0dmorvanfn-upgrade: done");
    EXPECT_EQ(visible("one\ntwo\ttab\x07\x08\x7f"), "one\\x0atwo\\x09tab\\x07\\x08\\x7f");
    // OSC 52 (the clipboard) ends with BEL: nothing of it reaches a terminal raw.
    EXPECT_EQ(visible("\x1b]52;c;cm0gLXJmIH4=\x07"), "\\x1b]52;c;cm0gLXJmIH4=\\x07");
}

TEST(Visible, C1AndBidiControlsBecomeEscapes)
{
    EXPECT_EQ(visible("x\xc2\x9b" "2Jy"), "x\\u009b2Jy");             // CSI as C1
    EXPECT_EQ(visible("abc\xe2\x80\xae" "fdp.exe"), "abc\\u202efdp.exe"); // RIGHT-TO-LEFT OVERRIDE
    EXPECT_EQ(visible("\xe2\x81\xa6x\xe2\x81\xa9"), "\\u2066x\\u2069");
}

TEST(Visible, BytesThatAreNotUtf8BecomeEscapes)
{
    EXPECT_EQ(visible("\xff"), "\\xff");
    EXPECT_EQ(visible("\xc0\xaf"), "\\xc0\\xaf");         // overlong /
    EXPECT_EQ(visible("\xed\xa0\x80"), "\\xed\\xa0\\x80"); // a surrogate
    EXPECT_EQ(visible("ab\xe2\x82"), "ab\\xe2\\x82");     // cut short
}

TEST(Visible, LettersOfAnyScriptStay)
{
    const std::string names = "ДЛИНА_СТРОКИ 注文番号 \xf0\x9f\x98\x80 Größe \"q\" \\x1b";
    EXPECT_EQ(visible(names), names);
}

TEST(StepLines, AnyNameIsOneField)
{
    const std::string name = "X\"ACTIVE;\tDROP\nTABLE\r\\T2;--";
    const std::vector<std::string> f = fields(escaped("value") + "\t" + escaped(name) + "\t" + escaped(""));
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[1], name);
    EXPECT_EQ(f[2], "");
    EXPECT_EQ(escaped(name).find_first_of("\t\n\r"), std::string::npos);
}

TEST(StepLines, FileIdentityRoundTrips)
{
    const FileId id{2049, 1234567890123ULL};
    EXPECT_EQ(id_from(id_text(id)), id);
    EXPECT_THROW(id_from("nothing"), Failure);
}

TEST(ServiceOutput, TheIndexesGbakCouldNotBuild)
{
    // As the service hands the lines over: names padded, a blank at each
    // line's end, and a name with a newline split over two lines.
    const std::string output = "gbak:    activating and creating deferred index IDX \n"
                               "morvanfn-upgrade: forged \n"
                               "gbak:cannot commit index IDX \n"
                               "morvanfn-upgrade: forged \n"
                               "gbak: ERROR:function FN_PAD is not defined \n"
                               "gbak: ERROR:    module name or entrypoint could not be found \n"
                               "gbak: ERROR:    function FN_PAD is not defined \n"
                               "gbak:cannot commit index T_EVIL                         \n"
                               "gbak: ERROR:function EVIL_LEN is not defined \n"
                               "gbak:    committing metadata\n";
    const auto idx = gbak_failed(output, "IDX\nmorvanfn-upgrade: forged");
    ASSERT_TRUE(idx.has_value());
    EXPECT_EQ(*idx, "function FN_PAD is not defined: module name or entrypoint could not be found");
    EXPECT_EQ(gbak_failed(output, "T_EVIL").value_or("-"), "function EVIL_LEN is not defined");
    // A name that is only the start of another, or only its first line.
    EXPECT_FALSE(gbak_failed(output, "T_EVI").has_value());
    EXPECT_FALSE(gbak_failed(output, "IDX").has_value());
    EXPECT_FALSE(gbak_failed(output, "DEFERRED").has_value());
}

TEST(Owner, GivenOrWhoeverOwnsMost)
{
    Options given;
    given.owner = "\"Alice_B\"";
    StepResult found;
    found.values.emplace("owner", std::vector<std::string>{"ALICE", "27"});
    found.values.emplace("owner", std::vector<std::string>{"BOB", "1"});
    EXPECT_EQ(choose_owner(given, found), "Alice_B");
    given.owner = "bob";
    EXPECT_EQ(choose_owner(given, found), "BOB");
    EXPECT_EQ(choose_owner(Options(), found), "ALICE");
    EXPECT_EQ(choose_owner(Options(), StepResult()), "SYSDBA");
}

TEST(Owner, NamedAsTheEngineReadsIt)
{
    EXPECT_EQ(name_as_engine_reads("\"O\"\"Brien\""), "O\"Brien");
    EXPECT_EQ(name_as_engine_reads("Alice B"), "Alice B");
    EXPECT_THROW(name_as_engine_reads("\"Alice"), Failure);
    EXPECT_THROW(name_as_engine_reads("\"A\"B\""), Failure);
    // What reaches gbak through Firebird 3 to 5's service manager is read
    // once more: quoted twice there.
    EXPECT_EQ(service_login("SYSDBA", false), "SYSDBA");
    EXPECT_EQ(service_login("Alice_B", false), "\"\"\"Alice_B\"\"\"");
    EXPECT_THROW(service_login("Alice B", false), Failure);
    EXPECT_EQ(service_login("Alice B", true), "\"Alice B\"");
}

TEST(Owner, AdviceQuotesTheNamesThatNeedIt)
{
    EXPECT_EQ(user_in_sql("ALICE"), "ALICE");
    EXPECT_EQ(user_in_sql("APP_2$"), "APP_2$");
    EXPECT_EQ(user_in_sql("Alice_B"), "\"Alice_B\"");
    EXPECT_EQ(user_in_sql("2ND"), "\"2ND\"");
    EXPECT_EQ(user_in_sql("O\"Brien"), "\"O\"\"Brien\"");
}

TEST(StepLines, HowAStepEndedInWords)
{
    EXPECT_EQ(Child::in_words(7), "status 7");
#ifdef _WIN32
    EXPECT_EQ(Child::in_words(int(0xC0000005u)), "Windows status 0xC0000005 (an access violation)");
    EXPECT_EQ(Child::in_words(-2147483392), "Windows status 0x80000100");
#else
    EXPECT_EQ(Child::in_words(128 + 11).rfind("signal 11 (", 0), 0u);
#endif
}

TEST(Quoting, DoublesQuotes)
{
    EXPECT_EQ(quoted("X\"ACTIVE;DROP/**/TABLE/**/T2;--"), "\"X\"\"ACTIVE;DROP/**/TABLE/**/T2;--\"");
    EXPECT_EQ(quoted(""), "\"\"");
}

TEST(RunMade, OnlyTheRunsOwnNames)
{
    Target t;
    t.name = "db.fdb";
    for (const char *n : {".db.fdb.morvanfn-12-ab", ".db.fdb.morvanfn-12-ab.fdb", ".db.fdb.morvanfn-12-ab.meta.fdb",
                          ".db.fdb.morvanfn-9-0f3e.d"})
        EXPECT_TRUE(run_made(t, n)) << n;
    for (const char *n : {".db.fdb.morvanfn-lock", ".db.fdb.morvanfn-12-ab.d.x", ".db.fdb.morvanfn--ab", ".db.fdb.morvanfn-12-",
                          ".db.fdb.morvanfn-12-xy", "db.fdb", ".other.fdb.morvanfn-12-ab", ".db.fdb.morvanfn-12-ab/.."})
        EXPECT_FALSE(run_made(t, n)) << n;
}

TEST(Paths, DirectoriesAndNames)
{
    EXPECT_EQ(directory_of("db.fdb"), ".");
    EXPECT_EQ(directory_of("sub/db.fdb"), "sub");
    EXPECT_EQ(directory_of("/db.fdb"), "/");
    EXPECT_EQ(directory_of("/a/b/"), "/a");
    EXPECT_EQ(directory_of("/a/b//"), "/a");
    EXPECT_EQ(name_of("/a/b"), "b");
    EXPECT_EQ(join("/a/", "b"), "/a/b");
    EXPECT_FALSE(is_absolute("lib/../x"));
    EXPECT_FALSE(is_absolute(""));
#ifdef _WIN32
    EXPECT_EQ(directory_of("C:\\db.fdb"), "C:\\");
    EXPECT_EQ(directory_of("C:\\data\\DB.FDB"), "C:\\data");
    EXPECT_EQ(directory_of("C:db.fdb"), "C:");
    EXPECT_EQ(directory_of("D:/data/"), "D:/");
    EXPECT_EQ(directory_of("\\\\server\\share\\db.fdb"), "\\\\server\\share");
    EXPECT_EQ(name_of("C:\\data\\DB.FDB"), "DB.FDB");
    EXPECT_TRUE(is_absolute("C:\\x"));
    EXPECT_TRUE(is_absolute("\\\\server\\share"));
    EXPECT_FALSE(is_absolute("C:x"));
#else
    EXPECT_TRUE(is_absolute("/x"));
#endif
}

TEST(LibraryDirectories, RelativeIsRefusedAtOnce)
{
    std::vector<std::string> made;
    const auto why = unsafe_library_directory("UDF/../lib", made);
    ASSERT_TRUE(why.has_value());
    EXPECT_EQ(*why, "it is not an absolute path");
#ifdef _WIN32
    // A Linux server's path in a Windows run: nothing made on the current drive.
    const auto linux_path = unsafe_library_directory("/opt/firebird/UDF", made);
    ASSERT_TRUE(linux_path.has_value());
    EXPECT_EQ(*linux_path, "it names no drive");
#endif
    EXPECT_TRUE(made.empty());
}

#ifndef _WIN32

namespace {
// A directory of this test's own, removed afterwards.
struct Scratch {
    std::string path;
    Scratch()
    {
        char t[] = "/tmp/morvanfn-unit-XXXXXX";
        path = mkdtemp(t);
    }
    ~Scratch() { Directory(directory_of(path)).remove_own(name_of(path)); }
    std::string at(const std::string &n) const { return path + "/" + n; }
    void file(const std::string &n, const std::string &text = "x") const { std::ofstream(at(n)) << text; }
};
std::string read(const std::string &path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
} // namespace

TEST(Files, RemoveOwnNeverFollowsALink)
{
    Scratch s;
    mkdir(s.at("elsewhere").c_str(), 0700);
    s.file("elsewhere/passwd", "keep");
    ASSERT_EQ(symlink(s.at("elsewhere").c_str(), s.at("link").c_str()), 0);
    mkdir(s.at("own").c_str(), 0700);
    ASSERT_EQ(symlink(s.at("elsewhere").c_str(), s.at("own/inside").c_str()), 0);
    const Directory dir(s.path);
    EXPECT_FALSE(dir.remove_own("link"));         // a link at the name: left
    EXPECT_TRUE(dir.remove_own("own"));           // a link inside: removed as a link
    EXPECT_EQ(read(s.at("elsewhere/passwd")), "keep");
    EXPECT_TRUE(entry_exists(s.at("link")));
    EXPECT_FALSE(dir.remove_own("elsewhere", FileId{1, 1})); // not the identity meant
    EXPECT_TRUE(is_directory(s.at("elsewhere")));
}

TEST(Files, ALinkIsNoDirectoryToWorkIn)
{
    Scratch s;
    mkdir(s.at("real").c_str(), 0700);
    ASSERT_EQ(symlink(s.at("real").c_str(), s.at("link").c_str()), 0);
    EXPECT_THROW(Directory(s.at("link")), Failure);
}

TEST(Files, PublishNeverReplaces)
{
    Scratch s;
    const Directory dir(s.path);
    const Directory work = dir.make_private(".db.fdb.morvanfn-1-a.d");
    std::ofstream(join(work.path(), "database.fdb")) << "finished";
    ASSERT_EQ(symlink(s.at("nowhere").c_str(), s.at("dangling.fdb").c_str()), 0);
    s.file("taken.fdb", "someone else's");
    HeldFile finished(work, "database.fdb");
    EXPECT_EQ(finished.publish(work, "database.fdb", dir, "dangling.fdb"), HeldFile::Published::occupied);
    EXPECT_EQ(finished.publish(work, "database.fdb", dir, "taken.fdb"), HeldFile::Published::occupied);
    EXPECT_FALSE(entry_exists(s.at("nowhere")));
    EXPECT_EQ(read(s.at("taken.fdb")), "someone else's");
    EXPECT_EQ(finished.publish(work, "database.fdb", dir, "db.fdb"), HeldFile::Published::done);
    EXPECT_EQ(read(s.at("db.fdb")), "finished");
    EXPECT_EQ(identity_of(s.at("db.fdb")), finished.id());
    EXPECT_FALSE(entry_exists(join(work.path(), "database.fdb")));
}

TEST(Files, HeldFileIsTheRunsOwnAlone)
{
    Scratch s;
    const Directory dir(s.path);
    s.file("two.fdb");
    ASSERT_EQ(link(s.at("two.fdb").c_str(), s.at("second-name").c_str()), 0);
    ASSERT_EQ(symlink(s.at("two.fdb").c_str(), s.at("link.fdb").c_str()), 0);
    EXPECT_THROW(HeldFile(dir, "two.fdb"), Failure);
    EXPECT_THROW(HeldFile(dir, "link.fdb"), Failure);
}

TEST(Files, ALockThatCannotBeLookedAtIsHeld)
{
    Scratch s;
    const Directory dir(s.path);
    EXPECT_FALSE(lock_held(dir, "absent.lock"));
    ASSERT_EQ(symlink(s.at("x").c_str(), s.at("link.lock").c_str()), 0);
    EXPECT_TRUE(lock_held(dir, "link.lock"));
    TargetLock lock(dir, "db.lock");
    ASSERT_TRUE(lock.held);
    EXPECT_TRUE(lock_held(dir, "db.lock"));
    EXPECT_THROW(TargetLock(dir, "link.lock"), Failure);
}

TEST(Files, AnEmptyFileMirrorsAcrossFileSystems)
{
    // /dev/shm is a file system of its own where it is there: no hard link
    // reaches /tmp from it, so the file is copied, empty as it is.
    struct stat shm, tmp;
    if (stat("/dev/shm", &shm) != 0 || stat("/tmp", &tmp) != 0 || shm.st_dev == tmp.st_dev)
        GTEST_SKIP() << "no second file system at /dev/shm";
    const std::string empty = "/dev/shm/morvanfn-unit-empty-" + std::to_string(getpid());
    std::ofstream(empty).close();
    Scratch s;
    EXPECT_NO_THROW(mirror(empty, s.at("copy")));
    std::remove(empty.c_str());
    EXPECT_TRUE(is_file(s.at("copy")));
    EXPECT_EQ(read(s.at("copy")), "");
}

TEST(Files, CodeDirectoriesOthersMayWriteAreRefused)
{
    Scratch s;
    mkdir(s.at("lib").c_str(), 0700);
    EXPECT_FALSE(unsafe_code_directory(s.at("lib")).has_value());
    chmod(s.at("lib").c_str(), 0777);
    const auto why = unsafe_code_directory(s.at("lib"));
    ASSERT_TRUE(why.has_value());
    EXPECT_NE(why->find("writable by others"), std::string::npos);
    // A sticky directory such as /tmp serves to work in, not to load from.
    chmod(s.at("lib").c_str(), 01777);
    EXPECT_TRUE(unsafe_code_directory(s.at("lib")).has_value());
    EXPECT_FALSE(Directory(s.at("lib")).unsafe().has_value());
}

#endif

TEST(OtherUdfs, NamedLikeABuiltInOfFirebird6)
{
    EXPECT_TRUE(shadowed_on_6("LI-T6.0.0.2123 Firebird 6.0 Initial", "ABS").has_value());
    EXPECT_FALSE(shadowed_on_6("LI-T6.0.0.2123 Firebird 6.0 Initial", "FN_PAD").has_value());
    EXPECT_FALSE(shadowed_on_6("LI-V5.0.4.1812 Firebird 5.0", "ABS").has_value());
    EXPECT_FALSE(shadowed_on_6("WI-V3.0.14.33824 Firebird 3.0", "LPAD").has_value());
    EXPECT_EQ(engine_major("LI-T6.0.0.2123 Firebird 6.0 Initial"), 6);
    EXPECT_EQ(engine_major(""), 0);
}
