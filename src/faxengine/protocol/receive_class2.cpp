// Class 2 and 2.0 receive: the modem runs T.30 and reports; we fetch the pages
// with "AT+FDR" and keep or drop each one by its page status.
#include "fe_errors.h"
#include "receive_fax.h"

namespace fe {

namespace {
constexpr std::uint8_t kDC2 = 0x12;  // tells the modem to start the page data
constexpr long kFdrTicks = SecondsToTicks(30);

int FirstField(const std::string& value) {
  const auto f = ReportFields(value);
  return f.empty() ? -1 : f[0];
}
}  // namespace

void TFeReceiveFax::Class2Report(const std::string& line) {
  if (auto v = ReportValue(line, c2_->remoteTsi)) {
    remoteId_ = ParseClass2Id(*v);
    UpdateSession([&](TFaxSessionValues& s) { s.remoteId = remoteId_; });
    SetStatus(fsGotRemoteId);
    if (!AskAccept()) return Refuse();
    CreateFile();
    return;
  }
  if (auto v = ReportValue(line, c2_->sessionParams)) {
    if (auto p = ParseClass2Params(*v)) {
      fineParam_ = p->fine;
      wideParam_ = p->wide;
      UpdateSession([&](TFaxSessionValues& s) {
        s.bps = p->bps;
        s.fine = p->fine;
        s.wide = p->wide;
        s.ecm = p->ecm;
      });
      SetStatus(fsGettingParams);
    }
    return;
  }
}

void TFeReceiveFax::Class2Line(const std::string& line) {
  if (auto v = ReportValue(line, c2_->hangup)) {
    const int code = FirstField(*v);
    SetHangup(code, FirstReportField(*v));
    SetStatus(fsGotFHNG);
    if (lastPageDone_) {
      SetState(rf2GetFHNG);
      Timer(kReplyTicks);  // the "OK" after the report ends the call
      return;
    }
    return Fail(ecFaxSessionError);
  }
  // Reports are parsed for what they say; only other lines are result codes (a
  // caller's id like "TOKYO OFFICE" holds "OK").
  const TModemReply r = IsReportLine(line) ? TModemReply::None : ClassifyReply(line);
  switch (state_) {
    case rf2ValCnnct:
      if (ReportValue(line, c2_->connected)) {
        SetStatus(fsCallValidated);
        SetState(rf2GtSndID);
        Timer(kReplyTicks);
        return;
      }
      if (r == TModemReply::Connect) return Fail(ecFaxDataCall);
      if (r == TModemReply::Voice) return Fail(ecFaxVoiceCall);
      if (r == TModemReply::NoCarrier || r == TModemReply::Error) {
        SetStatus(fsNoConnect);
        inCall_ = false;
        return Reset();
      }
      return Class2Report(line);

    case rf2GtSndID:
      if (r == TModemReply::Ok) {
        if (!AskAccept()) return Refuse();
        if (!CreateFile()) return;
        SetState(rf2GtCnnct);
        Command("AT+FDR");
        Timer(kFdrTicks);
        return;
      }
      if (r == TModemReply::Error || r == TModemReply::NoCarrier) return Fail(ecFaxSessionError);
      return Class2Report(line);

    case rf2GtCnnct:
      if (r == TModemReply::Connect) {
        const std::uint8_t dc2 = kDC2;
        WriteBytes(&dc2, 1);
        Connected(Input::Page);
        return BeginPage();
      }
      if (r == TModemReply::Error || r == TModemReply::NoCarrier) return Fail(ecFaxSessionError);
      return Class2Report(line);

    case rf2GtPgRslt:
      if (auto v = ReportValue(line, c2_->pageStatus)) {
        pageStatus_ = FirstField(*v);
        return Class2PageStatus(pageStatus_);
      }
      if (auto v = ReportValue(line, "+FET")) {
        fet_ = FirstField(*v);
        return;
      }
      if (r == TModemReply::Ok) {
        // A modem that gave no page status: the page is taken as good.
        if (pageStatus_ < 0) Class2PageStatus(1);
        if (!Running() || state_ != rf2GtPgRslt) return;
        // A refused last page comes again (or the caller gives up and hangs
        // up): the fax is complete only once its last page is kept.
        if (fet_ == 2 && pageKept_) {
          lastPageDone_ = true;
          ReceiveFinished();
          SetStatus(fsGettingHangup);
          SetState(rf2GetFHNG);
          // The modem answers the caller's last page only when asked for more;
          // it then reports the hang-up.
          Command("AT+FDR");
          Timer(kReplyTicks);
          return;
        }
        SetState(rf2GtCnnct);
        Command("AT+FDR");
        Timer(kFdrTicks);
        return;
      }
      if (r == TModemReply::Error) {
        if (file_.PageOpen()) file_.RestartPage();
        SetState(rf2GtCnnct);
        Command("AT+FDR");
        Timer(kFdrTicks);
        return;
      }
      return Class2Report(line);

    case rf2GetFHNG:
      if (r == TModemReply::Ok || r == TModemReply::Error || r == TModemReply::NoCarrier) return CallDone();
      return;

    default:
      return;
  }
}

// Page status 1 (MCF), 3 (RTP) or 5 (PIP) keeps the page; anything else means the
// caller sends it again, into the same place in the file.
void TFeReceiveFax::Class2PageStatus(int value) {
  if (!file_.PageOpen()) return;
  pageKept_ = value == 1 || value == 3 || value == 5;
  if (pageKept_) {
    const int rc = file_.EndPage();
    if (rc < 0) return Fail(-rc);
    UpdateSession([&](TFaxSessionValues& s) { s.pages = file_.Pages(); });
    return;
  }
  const int rc = file_.RestartPage();
  if (rc < 0) Fail(-rc);
}

}  // namespace fe
