// The receiver against scripted Class 2 and Class 2.0 modems: the session
// reports, a page refused and sent again, the hang-up report.
#include <ctime>
#include <thread>

#include "fe_errors.h"
#include "fe_faxlog.h"
#include "recv_fixture.h"

namespace recvtest {
namespace {

struct Spelling {
  fe::TFaxClass cls;
  const char* select;
  const char* localId;
  const char* caps;
  const char* connected;
  const char* tsi;
  const char* params;
  const char* pageStatus;
  const char* hangup;
};

const Spelling kClass2 = {
    fe::TFaxClass::fcClass2, "AT+FCLASS=2", "AT+FLID", "AT+FDCC", "+FCON", "+FTSI", "+FDCS", "+FPTS", "+FHNG"};
const Spelling kClass20 = {
    fe::TFaxClass::fcClass2_0, "AT+FCLASS=2.0", "AT+FLI", "AT+FCC", "+FCO", "+FTI", "+FCS", "+FPS", "+FHS"};

class RecvClass2 : public RecvFixture, public ::testing::WithParamInterface<Spelling> {
 protected:
  void Prep(const Spelling& s) {
    modem.Answer("ATE0Q0V1X4S0=0S2=43")
        .Answer(s.select)
        .Answer("AT+FCR=1")
        .Answer(std::string(s.localId) + "=\"QUILLON RX\"")
        .Answer("AT+FAA=0")
        .Answer(s.select)
        .Answer(std::string(s.caps) + "=1,3,0,2,0,0,0,0");
    if (s.cls == fe::TFaxClass::fcClass2_0) modem.Answer("AT+FLO=2").Answer("AT+FNR=1,1,1,0");
  }
  // The reset between calls.
  void Reset(const Spelling& s) {
    modem.Answer(s.select).Answer(std::string(s.caps) + "=1,3,0,2,0,0,0,0");
    if (s.cls == fe::TFaxClass::fcClass2_0) modem.Answer("AT+FLO=2").Answer("AT+FNR=1,1,1,0");
  }
  // A call up to the first page's data from a caller with this id.
  void CallWithPage(const Spelling& s, const std::string& id, const std::string& page) {
    modem.Ring(1)
        .Expect("ATA")
        .Reply(s.connected)
        .Reply(std::string(s.tsi) + ":\"" + id + "\"")
        .Reply(std::string(s.params) + ":1,3,0,2,0,0,0,0")
        .Reply("OK")
        .Expect("AT+FDR")
        .Reply("CONNECT")
        .ExpectByte('\x12')
        .Send(Stuffed(page));
  }
  // The history file, each date and time shown as "<T>".
  std::string History() {
    std::ifstream in(dir / "FAXHIST.HIS", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (std::time_t t = began - 1; t <= std::time(nullptr) + 1; ++t) {
      const std::string at = fe::FormatDateTime(t);
      for (size_t pos; (pos = text.find(at)) != std::string::npos;) text.replace(pos, at.size(), "<T>");
    }
    return text;
  }
  void LogTo() {
    history.FaxHistoryName = (dir / "FAXHIST.HIS").string();
    rx.FaxLog = &history;
  }
  std::time_t began = std::time(nullptr);
  fe::TFeFaxLog history;
};

// Callers whose ids hold result words ("OK" in TOKYO, "ERROR", "NO CARRIER"):
// the ids are reports, each fax is received and named after its caller.
TEST_P(RecvClass2, CallerIdsThatHoldResultWords) {
  const Spelling& s = GetParam();
  rx.FaxClass = s.cls;
  rx.OneFax = false;
  LogTo();
  const std::vector<std::string> ids = {"TOKYO OFFICE", "ERROR FREE CO", "NO CARRIER LTD"};
  Prep(s);
  for (size_t i = 0; i < ids.size(); ++i) {
    CallWithPage(s, ids[i], CodedPage(10, 40 + static_cast<unsigned>(i)));
    modem.Reply(std::string(s.pageStatus) + ":1")
        .Reply("+FET:2")
        .Reply("OK")
        .Expect("AT+FDR")
        .Reply(std::string(s.hangup) + ":0")
        .Reply("OK");
    Reset(s);
  }
  Open();
  ASSERT_EQ(rx.StartReceive(), 0);
  EXPECT_TRUE(modem.WaitDone(30s)) << modem.Report();
  for (int i = 0; i < 100 && rx.FaxesReceived() < 3; ++i) std::this_thread::sleep_for(50ms);
  rx.Cancel();
  ASSERT_TRUE(rx.WaitDone(10000));
  EXPECT_EQ(rx.FaxesReceived(), 3);
  std::string expected;
  for (size_t i = 0; i < ids.size(); ++i) {
    const std::string file = (dir / ("FAX000" + std::to_string(i + 1) + ".APF")).string();
    fe::TApfReader r;
    ASSERT_EQ(r.Open(file), 0);
    EXPECT_EQ(r.PageCount(), 1u);
    EXPECT_EQ(r.Header().stationId, ids[i] + std::string(20 - ids[i].size(), ' '));
    expected += "Receive " + file + " from " + ids[i] + " started at <T>\r\nReceive finished OK at <T>\r\n\r\n";
  }
  EXPECT_EQ(History(), expected);
  EXPECT_TRUE(ev.Errors().empty() || ev.Errors() == std::vector<int>{fe::ecCancelRequested});
}

// The last page refused: the fax is complete only when it comes again; a caller
// that hangs up instead leaves a failed fax, never one "finished OK".
TEST_P(RecvClass2, RefusedLastPage) {
  const Spelling& s = GetParam();
  rx.FaxClass = s.cls;
  rx.ExitOnError = true;
  std::vector<std::vector<std::uint8_t>> sent;
  const std::string bad = CodedPage(40, 51), good = CodedPage(20, 52, &sent);
  Prep(s);
  CallWithPage(s, "RETRY CO", bad);
  modem.Reply(std::string(s.pageStatus) + ":2").Reply("+FET:2").Reply("OK");
  modem.Expect("AT+FDR").Reply("CONNECT").ExpectByte('\x12').Send(Stuffed(good));
  modem.Reply(std::string(s.pageStatus) + ":1").Reply("+FET:2").Reply("OK");
  modem.Expect("AT+FDR").Reply(std::string(s.hangup) + ":0").Reply("OK");
  Open();
  ASSERT_EQ(rx.StartReceive(), 0);
  ASSERT_TRUE(rx.WaitDone(30000));
  EXPECT_EQ(rx.FinalCode(), 0);
  const std::string file = (dir / "FAX0001.APF").string();
  fe::TApfReader r;
  ASSERT_EQ(r.Open(file), 0);
  ASSERT_EQ(r.PageCount(), 1u);
  EXPECT_EQ(DecodePage(file, 1), sent);
  EXPECT_EQ(ev.Logs(), (std::vector<int>{4, 5}));
}

TEST_P(RecvClass2, RefusedLastPageNotSentAgain) {
  const Spelling& s = GetParam();
  rx.FaxClass = s.cls;
  rx.ExitOnError = true;
  Prep(s);
  CallWithPage(s, "GONE CO", CodedPage(40, 53));
  modem.Reply(std::string(s.pageStatus) + ":2").Reply("+FET:2").Reply("OK");
  modem.Expect("AT+FDR").Reply(std::string(s.hangup) + ":0").Reply("OK");
  modem.ExpectPrefix("+++").Reply("OK");
  Open();
  ASSERT_EQ(rx.StartReceive(), 0);
  ASSERT_TRUE(rx.WaitDone(30000));
  EXPECT_EQ(rx.FinalCode(), fe::ecFaxSessionError);
  EXPECT_EQ(ev.Logs(), (std::vector<int>{4, 7}));
  fe::TApfReader r;
  ASSERT_EQ(r.Open((dir / "FAX0001.APF").string()), 0);
  EXPECT_EQ(r.PageCount(), 0u);
}

// Page 1 arrives damaged, is refused (page status 2) and sent again shorter; the
// second copy replaces the first in the file. Page 2 is standard resolution.
TEST_P(RecvClass2, RetransmittedPageOverwritesRefusedOne) {
  const Spelling& s = GetParam();
  rx.FaxClass = s.cls;
  std::vector<std::vector<std::uint8_t>> sent1, sent2;
  const std::string bad = CodedPage(80, 21), good = CodedPage(30, 22, &sent1), p2 = CodedPage(25, 23, &sent2);
  ASSERT_GT(bad.size(), good.size());
  Prep(s);
  modem.Ring(2, 100ms)
      .Expect("ATA")
      .Reply(s.connected)
      .Reply(std::string(s.tsi) + ":\"  +49 30 1234567\"")
      .Reply(std::string(s.params) + ":1,3,0,2,0,0,0,0")
      .Reply("OK")
      .Expect("AT+FDR")
      .Reply("CONNECT")
      .ExpectByte('\x12')
      .Send(Stuffed(bad))
      .Reply(std::string(s.pageStatus) + ":2")
      .Reply("+FET:0")
      .Reply("OK")
      .Expect("AT+FDR")
      .Reply("CONNECT")
      .ExpectByte('\x12')
      .Send(Stuffed(good))
      .Reply(std::string(s.pageStatus) + ":1")
      .Reply("+FET:0")
      .Reply("OK")
      .Expect("AT+FDR")
      .Reply(std::string(s.params) + ":0,3,0,2,0,0,0,0")
      .Reply("CONNECT")
      .ExpectByte('\x12')
      .Send(Stuffed(p2))
      .Reply(std::string(s.pageStatus) + ":1")
      .Reply("+FET:2")
      .Reply("OK")
      .Expect("AT+FDR")  // releases the answer to the last page
      .Reply(std::string(s.hangup) + ":0")
      .Reply("OK");
  rx.AnswerOnRing = 2;
  Open();
  ASSERT_EQ(rx.StartReceive(), 0);
  ASSERT_TRUE(rx.WaitDone(30000));
  EXPECT_TRUE(modem.WaitDone(3s)) << modem.Report();
  EXPECT_EQ(rx.FinalCode(), 0);
  ASSERT_EQ(Files(), std::vector<std::string>{"FAX0001.APF"});
  const std::string file = (dir / "FAX0001.APF").string();
  fe::TApfReader r;
  ASSERT_EQ(r.Open(file), 0);
  ASSERT_EQ(r.PageCount(), 2u);
  EXPECT_EQ(r.Header().stationId, "+49 30 1234567      ");
  std::vector<fe::TApfPageInfo> pages;
  ASSERT_EQ(r.ScanPages(&pages), 0);
  EXPECT_EQ(pages[0].flags(), fe::pfHighRes);
  EXPECT_EQ(pages[0].header.imageLength, good.size());
  EXPECT_EQ(pages[1].flags(), 0);
  EXPECT_EQ(pages[1].offset + 16 + pages[1].header.imageLength, r.FileSize()) << "stale bytes behind the last page";
  EXPECT_EQ(DecodePage(file, 1), sent1);
  EXPECT_EQ(DecodePage(file, 2), sent2);
  EXPECT_EQ(ev.Logs(), (std::vector<int>{4, 5}));
  EXPECT_EQ(rx.Session().hangupCode, 0);
  const auto st = ev.Statuses();
  for (int code : {20, 22, 23, 41, 40, 24, 27, 28}) EXPECT_TRUE(Contains(st, code)) << "status " << code;
}

// The caller hangs up after the first page with an error hang-up code: the file
// keeps that page, log code 7, the hang-up code is recorded.
TEST_P(RecvClass2, HangupMidFax) {
  const Spelling& s = GetParam();
  rx.FaxClass = s.cls;
  rx.ExitOnError = true;
  const std::string p1 = CodedPage(20, 31);
  Prep(s);
  modem.Ring(1)
      .Expect("ATA")
      .Reply(s.connected)
      .Reply(std::string(s.params) + ":0,3,0,2,0,0,0,0")
      .Reply("OK")
      .Expect("AT+FDR")
      .Reply("CONNECT")
      .ExpectByte('\x12')
      .Send(Stuffed(p1))
      .Reply(std::string(s.pageStatus) + ":1")
      .Reply("+FET:0")
      .Reply("OK")
      .Expect("AT+FDR")
      .Reply(std::string(s.hangup) + ":50")
      .Reply("ERROR");
  Open();
  ASSERT_EQ(rx.StartReceive(), 0);
  ASSERT_TRUE(rx.WaitDone(30000));
  EXPECT_EQ(rx.FinalCode(), fe::ecFaxSessionError);
  EXPECT_EQ(rx.Session().hangupCode, 50);
  fe::TApfReader r;
  ASSERT_EQ(r.Open((dir / "FAX0001.APF").string()), 0);
  EXPECT_EQ(r.PageCount(), 1u);
  EXPECT_EQ(ev.Logs(), (std::vector<int>{4, 7}));
}

// An owner that gets to a fax's log event only after the receiver went back to
// waiting (its values reset for the next call) still reads that fax's values.
TEST_P(RecvClass2, LateLogHandlerSeesItsFaxValues) {
  const Spelling& s = GetParam();
  rx.FaxClass = s.cls;
  rx.OneFax = false;
  fe::TFeQueueSink late;  // drained only once the call is over
  std::string idAtLog, fileAtLog;
  int pagesAtLog = -1;
  rx.OnFaxLog = [&](fe::TFeAbstractFax& f, int code) {
    if (code != fe::lfReceiveFinished) return;
    const fe::TFaxSessionValues v = f.Session();
    idAtLog = v.remoteId;
    fileAtLog = v.faxFile;
    pagesAtLog = v.pages;
  };
  Prep(s);
  CallWithPage(s, "LATE OWNER", CodedPage(10, 61));
  modem.Reply(std::string(s.pageStatus) + ":1")
      .Reply("+FET:2")
      .Reply("OK")
      .Expect("AT+FDR")
      .Reply(std::string(s.hangup) + ":0")
      .Reply("OK");
  Reset(s);
  Open();
  rx.SetEventSink(&late);
  ASSERT_EQ(rx.StartReceive(), 0);
  EXPECT_TRUE(modem.WaitDone(60s)) << modem.Report();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(rx.Session().remoteId, "");  // waiting for the next call
  late.ProcessPending();
  EXPECT_EQ(idAtLog, "LATE OWNER");
  EXPECT_EQ(pagesAtLog, 1);
  EXPECT_TRUE(fileAtLog.size() > 11 && fileAtLog.compare(fileAtLog.size() - 11, 11, "FAX0001.APF") == 0) << fileAtLog;
  rx.Cancel();
  rx.WaitDone(10000);
  rx.SetEventSink(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Classes, RecvClass2, ::testing::Values(kClass2, kClass20), [](const auto& info) {
  return info.param.cls == fe::TFaxClass::fcClass2 ? "Class2" : "Class20";
});

}  // namespace
}  // namespace recvtest
