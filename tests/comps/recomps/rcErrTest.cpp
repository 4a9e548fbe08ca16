#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcErr.h"
#include "qvTestUtil.h"

namespace {

rc::Err openFailed() {
  return rc::Err(RC_ERROR, RC_SC_OPEN_FAILED, rc::VarArgs() << "/x", ENOENT | rc::Err::UNIX_ERRNO,
                 rc::VarArgs::NO_VARARGS, "recomps/File::open2");
}

}  // namespace

TEST(Severity, SymbolsLabelsAndIds) {
  const struct {
    int id;
    const char* symbol;
    const char* label;
    bool isError;
  } rows[] = {
      {RC_NO_SEVERITY, "none", "None", true},
      {RC_DEBUG, "debug", "Debug", false},
      {RC_INFO, "info", "Info", false},
      {RC_WARNING, "warning", "Warning", true},
      {RC_ERROR, "error", "Error", true},
      {RC_NON_FATAL, "nonFatal", "Non-fatal Internal Error", true},
      {RC_FATAL, "fatal", "Internal Error", true},
      {RC_BAD_SEVERITY, "badSeverityValue", "Bad Severity Value", true},
      {9, "unknown", "unknown", true},
      {-1, "unknown", "unknown", true},
  };
  for (const auto& row : rows) {
    EXPECT_STREQ(rc::Severity::symbol(row.id), row.symbol);
    EXPECT_STREQ(rc::Severity::label(row.id), row.label);
    EXPECT_EQ(rc::Severity::isErrorSeverity(row.id), row.isError) << row.id;
  }
  EXPECT_EQ(rc::Severity::id("fatal"), RC_FATAL);
  EXPECT_EQ(rc::Severity::id("nonFatal"), RC_NON_FATAL);
  EXPECT_EQ(rc::Severity::id("Fatal"), RC_BAD_SEVERITY);
  EXPECT_EQ(rc::Severity::id("none"), RC_BAD_SEVERITY);
  EXPECT_EQ(rc::Severity::id("badSeverityValue"), RC_BAD_SEVERITY);
  EXPECT_EQ(rc::Severity::id(""), RC_NO_SEVERITY);
  EXPECT_EQ(rc::Severity::id(nullptr), RC_NO_SEVERITY);
  EXPECT_STREQ(rc::Severity("warning").label(), "Warning");
}

TEST(Err, DisplayCodes) {
  EXPECT_EQ(rc::Err::displayCode(2 | rc::Err::UNIX_ERRNO), 20002);
  EXPECT_EQ(rc::Err::displayCode(5 | rc::Err::CERROR), 10005);
  EXPECT_EQ(rc::Err::displayCode(17), 17);
}

TEST(Err, TextLayouts) {
  rc::Err withFile = openFailed();
  withFile.addFileName("a.txt", 3);
  rc::Err lineOnly = openFailed();
  lineOnly.addLineNo(3);
  rc::Err cerror2(RC_ERROR, RC_SC_BAD_CMD_LINE_ARG, rc::VarArgs() << "-x", 5 | rc::Err::CERROR,
                  rc::VarArgs() << "ignored", nullptr);
  rc::Err endsInPeriod(RC_ERROR, RC_SC_CERROR, rc::VarArgs() << "done.", nullptr);
  rc::Err noSeverity(RC_NO_SEVERITY, RC_SC_OPEN_FAILED, rc::VarArgs() << "/y", nullptr);
  rc::Err unknownSeverity(static_cast<RcSeverity>(12), RC_SC_OK, nullptr);
  const struct {
    const rc::Err* err;
    int flags;
    const char* text;
  } rows[] = {
      {nullptr, rc::Err::FF_DEFAULT, "Error: unable to open '/x' - No such file or directory."},
      {nullptr, rc::Err::FF_SHOW_CODES,
       "Error: QV-00006/20002: unable to open '/x' - No such file or directory."},
      {nullptr, rc::Err::FF_SHOW_CODES | rc::Err::FF_OMIT_SEVERITY,
       "QV-00006/20002: unable to open '/x' - No such file or directory."},
      {&withFile, rc::Err::FF_DEFAULT,
       "File a.txt, Line 3: Error: unable to open '/x' - No such file or directory."},
      {&lineOnly, rc::Err::FF_DEFAULT,
       "Line 3: Error: unable to open '/x' - No such file or directory."},
      {&cerror2, rc::Err::FF_SHOW_CODES,
       "Error: QV-00017/10005: command line arg '-x' is unknown or invalid."},
      {&endsInPeriod, rc::Err::FF_DEFAULT, "Error: done."},
      {&noSeverity, rc::Err::FF_SHOW_CODES, "unable to open '/y'"},
      {&unknownSeverity, rc::Err::FF_DEFAULT, "unknown: ok."},
  };
  const rc::Err base = openFailed();
  for (const auto& row : rows) {
    const rc::Err& err = row.err != nullptr ? *row.err : base;
    EXPECT_EQ(rc::Err::format(err, static_cast<rc::Err::FmtFlags>(row.flags)), row.text);
  }
}

TEST(Err, FormatNeverThrows) {
  // An empty text with a severity set cannot be formatted: the fallback text stands in.
  rc::Err empty(RC_ERROR, RC_SC_CERROR, rc::VarArgs() << "", nullptr);
  EXPECT_EQ(rc::Err::format(empty), "Error: .");
  EXPECT_EQ(rc::Err::format(empty, rc::Err::FF_OMIT_SEVERITY),
            "Could not format message. Probably running low on shared memory or heap");
}

TEST(Err, RoutineIsCutAndListsFollowTheStorageRule) {
  const std::string longName(60, 'r');
  rc::Err err(RC_ERROR, RC_SC_OK, longName.c_str());
  EXPECT_EQ(std::string(err.routine()), longName.substr(0, 47));
  EXPECT_EQ(err.args(), nullptr);  // no list without entries

  rc::Err withArgs(RC_ERROR, RC_SC_TST_2, rc::VarArgs() << "v", nullptr);
  ASSERT_NE(withArgs.args(), nullptr);
  withArgs.addCode(RC_SC_TST_2, rc::VarArgs());  // an empty list clears the existing one
  ASSERT_NE(withArgs.args(), nullptr);
  EXPECT_TRUE(withArgs.args()->isEmpty());
}

TEST(Err, CopiesAreDeepAndIndependent) {
  rc::Err original = openFailed();
  original.addFileName("f.cfg", 9);
  rc::Err copy(original);
  EXPECT_NE(copy.args(), original.args());
  EXPECT_NE(copy.fileName(), original.fileName());
  EXPECT_STREQ(copy.fileName(), "f.cfg");
  original.clear();
  EXPECT_EQ(original.fileName(), nullptr);
  EXPECT_EQ(rc::Err::format(copy),
            "File f.cfg, Line 9: Error: unable to open '/x' - No such file or directory.");
  rc::Err assigned;
  assigned = copy;
  assigned = assigned;  // self-assignment keeps the error intact
  EXPECT_EQ(rc::Err::format(assigned), rc::Err::format(copy));
  rc::Err* heapCopy = copy.copy();
  EXPECT_EQ(rc::Err::format(*heapCopy), rc::Err::format(copy));
  delete heapCopy;
}

TEST(Err, ThrowRecordsTheAbortError) {
  const rc::Err err = qvtest::thrownErr([] { rc::Err_Throw(openFailed()); });
  EXPECT_EQ(err.code(), RC_SC_OPEN_FAILED);
  EXPECT_STREQ(err.routine(), "recomps/File::open2");
  EXPECT_NE(rc::Err::s_abortErr, nullptr);
}

TEST(IntnlErr, TextLayouts) {
  rc::IntnlErr withMsg(RC_NON_FATAL, "index < nextSlot (reused code)", RC_SC_TST_2,
                       rc::VarArgs() << 5, nullptr);
  withMsg.err().addCode2(RC_SC_TST_1);
  // Codes are shown raw, and a second code is always appended with its text.
  EXPECT_EQ(rc::IntnlErr::format(withMsg, static_cast<rc::IntnlErr::FmtFlags>(1)),
            "Non-fatal Internal Error: QV-00002/00001: index < nextSlot (reused code) - test msg "
            "2, value = '5' - test msg 1.");
  rc::IntnlErr assertion(RC_FATAL, nullptr, RC_SC_ASSERT, rc::VarArgs() << "n < m_vec.size ()",
                         nullptr);
  assertion.err().addFileName("src/x.cpp", 396);
  EXPECT_EQ(rc::IntnlErr::format(assertion),
            "Internal Error: assert 'n < m_vec.size ()' failed (in file src/x.cpp, line 396).");
  rc::IntnlErr bare(RC_NO_SEVERITY);
  EXPECT_EQ(rc::IntnlErr::format(bare), "None: .");
  const std::string longMsg(300, 'm');
  bare.addStringString(longMsg.c_str());
  EXPECT_EQ(std::string(bare.msgString()).size(), 255u);
}

TEST(Assert, FailurePrintsAndAbortsByDefault) {
  const auto r = qvtest::runInChild([] { RC_ASSERT(1 + 1 == 3); });
  EXPECT_EQ(r.termSignal, SIGABRT);
  EXPECT_NE(r.err.find("Internal Error: assert '1 + 1 == 3' failed (in file "), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("rcErrTest.cpp, line "), std::string::npos);
}

TEST(Assert, FailureThrowsWhenAbortIsOff) {
  const auto r = qvtest::runInChild([] {
    rc::Assert::setAbortOnFail(false);
    errno = ENOENT;
    try {
      rc::Assert_throwAssert("ptr", "the table", true, "f.cpp", 12);
    } catch (const rc::IntnlErr& err) {
      printf("caught %d %d\n", err.code(), err.err().code2());
      fflush(stdout);
      _exit(3);
    }
    _exit(4);
  });
  EXPECT_EQ(r.exitStatus, 3);
  EXPECT_EQ(r.out, "caught 4 " + std::to_string(ENOENT | rc::Err::UNIX_ERRNO) + "\n");
  EXPECT_EQ(r.err,
            "Internal Error: assert 'ptr' failed for the table - No such file or directory (in "
            "file f.cpp, line 12).\n");
}

TEST(Err, WireFormWithoutListsIsSixIntsAndTwoStrings) {
  rc::Err err(RC_WARNING, RC_SC_OK, 7, "ab");
  err.addLineNo(9);
  rc::ByteStrm s(0);
  err.saveOn(s);
  EXPECT_EQ(qvtest::bytesOf(s), qvtest::Bytes(qvtest::ByteImage()
                                                  .words({RC_WARNING, RC_SC_OK, 0, 7, 0, 9, 0, 2})
                                                  .text({'a', 'b', 0, 0})));
  EXPECT_LE(s.size(), err.binarySize());
}

TEST(Err, WireRoundTripsKeepEveryPart) {
  rc::Err err = openFailed();
  err.addFileName("a.txt", 12);
  err.addCode2(ENOENT | rc::Err::UNIX_ERRNO, rc::VarArgs() << "second");
  rc::ByteStrm s(0);
  err.saveOn(s);
  EXPECT_LE(s.size(), err.binarySize());
  rc::Err back(RC_FATAL, RC_SC_TST_2, rc::VarArgs() << "stale", "stale");
  back.restoreFrom(s);
  EXPECT_EQ(s.unreadBytes(), 0u);
  EXPECT_EQ(rc::Err::format(back, rc::Err::FF_SHOW_CODES),
            rc::Err::format(err, rc::Err::FF_SHOW_CODES));
  EXPECT_STREQ(back.routine(), "recomps/File::open2");
  ASSERT_NE(back.args2(), nullptr);
  EXPECT_STREQ((*back.args2())[0], "second");

  // A routine of the full length the class keeps survives the trip; an empty list in the stream
  // clears the list of the error restored into.
  const std::string longest(rc::Err::MAX_ROUTINE_LEN, 'r');
  rc::Err longRoutine(RC_ERROR, RC_SC_OK, longest.c_str());
  rc::ByteStrm s2(0);
  longRoutine.saveOn(s2);
  back.restoreFrom(s2);
  EXPECT_EQ(back.routine(), longest);
  EXPECT_TRUE(back.args() == nullptr || back.args()->isEmpty());
  EXPECT_EQ(back.fileName(), nullptr);

  // The same for the longest message an internal error keeps.
  const std::string longestMsg(rc::IntnlErr::MAX_MSG_STR_LEN, 'm');
  rc::IntnlErr longIntnl(RC_FATAL, longestMsg.c_str(), RC_SC_ASSERT, nullptr);
  rc::ByteStrm s4(0);
  longIntnl.saveOn(s4);
  rc::IntnlErr longBack;
  longBack.restoreFrom(s4);
  EXPECT_EQ(longBack.msgString(), longestMsg);

  rc::IntnlErr intnl(RC_FATAL, "broken", RC_SC_ASSERT, rc::VarArgs() << "n < m", nullptr);
  rc::ByteStrm s3(0);
  intnl.saveOn(s3);
  EXPECT_LE(s3.size(), intnl.binarySize());
  rc::IntnlErr intnlBack;
  intnlBack.restoreFrom(s3);
  EXPECT_EQ(rc::IntnlErr::format(intnlBack), rc::IntnlErr::format(intnl));
}

TEST(Err, BinarySizeBoundsWhatSaveOnWrites) {
  const std::string name(300, 'f'), routine(rc::Err::MAX_ROUTINE_LEN, 'r'), msg(255, 'm');
  rc::VarArgs many;
  for (int i = 0; i < 200; ++i) many << std::string(static_cast<size_t>(i % 13), 'a') << i;
  rc::IntnlErr intnl(RC_FATAL, msg.c_str(), RC_SC_ASSERT, many, routine.c_str());
  intnl.err().addFileName(name.c_str(), 5);
  intnl.err().addCode2(7, many);
  // A long file name, the longest routine and message, and long lists on both codes.
  rc::ByteStrm s(0);
  intnl.err().saveOn(s);
  EXPECT_LE(s.size(), intnl.err().binarySize());
  s.reset();
  intnl.saveOn(s);
  EXPECT_LE(s.size(), intnl.binarySize());
}

TEST(Err, DamagedWireFormsGiveTheReadErrorAtEveryCut) {
  rc::Err err = openFailed();
  err.addFileName("a.txt", 12);
  rc::IntnlErr intnl(RC_FATAL, "broken", RC_SC_ASSERT, rc::VarArgs() << "c", nullptr);
  rc::ByteStrm errWire(0);
  err.saveOn(errWire);
  rc::ByteStrm intnlWire(0);
  intnl.saveOn(intnlWire);
  qvtest::expectEveryCutRefused(qvtest::bytesOf(errWire),
                                [](rc::ByteStrm& in) { rc::Err().restoreFrom(in); });
  qvtest::expectEveryCutRefused(qvtest::bytesOf(intnlWire),
                                [](rc::ByteStrm& in) { rc::IntnlErr().restoreFrom(in); });
  // A list count far beyond the bytes that follow.
  rc::ByteStrm huge(0);
  huge << RC_ERROR << RC_SC_OK << 1 << 0x7FFFFFFF;
  rc::Err back;
  EXPECT_THROW(back.restoreFrom(huge), rc::Err);
}

TEST(Err, FileNameFromTheWireEndsAtItsFirstNul) {
  const struct {
    std::string name;
    const char* restored;
  } rows[] = {{std::string("\0x", 2), nullptr}, {std::string("a\0b", 3), "a"}, {"", nullptr}};
  for (const auto& row : rows) {
    rc::ByteStrm s(0);
    s << RC_ERROR << RC_SC_OK << 0 << 0 << 0 << 0;
    s.writeStr(row.name.data(), row.name.size());
    s.writeStr("r", 1);
    rc::Err err;
    err.restoreFrom(s);
    if (row.restored == nullptr) {
      EXPECT_EQ(err.fileName(), nullptr);
    } else {
      EXPECT_STREQ(err.fileName(), row.restored);
    }
  }
}

TEST(CaughtExc, SortsTheExceptionInFlight) {
  const struct {
    std::function<void()> raise;
    rc::CaughtExc::Kind kind;
    int code;
  } cases[] = {
      {[] { throw openFailed(); }, rc::CaughtExc::RC_ERR, RC_SC_OPEN_FAILED},
      {[] { throw rc::IntnlErr(RC_FATAL, "m", RC_SC_ASSERT, "r"); }, rc::CaughtExc::INTNL_ERR,
       RC_SC_ASSERT},
      {[] { throw std::out_of_range("range"); }, rc::CaughtExc::STD_EXCEPTION, -7},
      {[] { throw 42; }, rc::CaughtExc::OTHER, -7},
  };
  for (const auto& c : cases) {
    try {
      c.raise();
      ADD_FAILURE() << "nothing thrown";
    } catch (...) {
      const rc::CaughtExc caught = rc::CaughtExc::classify();
      EXPECT_EQ(caught.kind, c.kind);
      EXPECT_EQ(caught.code(-7), c.code);
      if (caught.stdEx != nullptr) {
        EXPECT_STREQ(caught.stdEx->what(), "range");
      }
    }
  }
}

TEST(Err, WithoutTheFacilitiesBuiltInTextsRemainAndErrorsGoToStdErr) {
  const rc::ErrTextRtn text = rc::setErrTextRtn(nullptr);
  const rc::ErrPrintRtn print = rc::setErrPrintRtn(nullptr);
  EXPECT_STREQ(rc::Err::lookupString(RC_SC_OPEN_FAILED), "unable to open '{1}'");
  EXPECT_STREQ(rc::Err::lookupString(RC_SC_LOGIN_ERROR), "login error - {1}");
  EXPECT_STREQ(rc::Err::lookupString(ENOENT | rc::Err::UNIX_ERRNO), strerror(ENOENT));
  // A code whose text is missing keeps its number and arguments.
  const rc::Err noText(RC_ERROR, 43,
                       rc::VarArgs() << "-b"
                                     << "maybe",
                       "r");
  EXPECT_EQ(rc::Err::format(noText),
            "Error: <rc::StrVec index too big> (QV-00043: '-b', 'maybe').");
  EXPECT_EQ(rc::Err::format(rc::Err(RC_ERROR, 243, "r")),
            "Error: <rc::StrVec index too big> (QV-00243).");
  testing::internal::CaptureStderr();
  rc::Err_Print(rc::Err(RC_WARNING, RC_SC_OPEN_FAILED, rc::VarArgs() << "f",
                        ENOENT | rc::Err::UNIX_ERRNO, rc::VarArgs::NO_VARARGS, "r"));
  const std::string printed = testing::internal::GetCapturedStderr();
  rc::setErrTextRtn(text);
  rc::setErrPrintRtn(print);
  EXPECT_EQ(printed, std::string("Warning: unable to open 'f' - ") + strerror(ENOENT) + ".\n");
}
