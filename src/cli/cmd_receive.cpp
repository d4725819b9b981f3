// qnfax receive: waits for calls on a fax modem and stores every fax received in a
// folder, printing each status and each file with its page count. Ctrl+C (or
// SIGTERM) cancels cleanly: a fax being received is closed with what arrived.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "cmd_faxport.h"
#include "cmd_media.h"
#include "cmd_sip.h"
#include "command.h"
#include "fe_errors.h"
#include "fe_eventsink.h"
#include "receive_fax.h"

namespace {

const char* kUsage =
    "usage: qnfax receive --port COMn|DEVICE --dir FOLDER [--class auto|1|2|2.0] [--bps N] [--ecm]\n"
    "                     [--station-id ID] [--rings N] [--one] [--init STRING] [--trace FILE]\n"
    "                     [--log FILE]\n"
    "       qnfax receive --media rtp|t38 --local ADDR:PORT [--remote ADDR:PORT] [--codec pcmu|pcma]\n"
    "                     --dir FOLDER [options]\n"
    "       qnfax receive --sip --user USER --domain DOMAIN [account options] --dir FOLDER [options]\n\n"
    "Waits for calls and stores each fax as FAXnnnn.APF in FOLDER. --rings: rings\n"
    "before answering (1); --one: stop after one fax; --log: the fax history file\n"
    "each fax's lines are added to. Ctrl+C stops. Exit status 0\n"
    "when the receiver stopped without an error.\n\n";

volatile std::sig_atomic_t gStop = 0;
void OnSignal(int) {
  gStop = 1;
}

int RunReceive(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::printf("%s%s\n%s", kUsage, qnfax::kMediaUsage, qnfax::kSipUsage);
    return args.empty() ? 2 : 0;
  }
  std::optional<qnfax::MediaLine> line;  // outlive the component that uses their modem
  std::optional<qnfax::SipLine> sipLine;
  qnfax::MediaOptions media;
  qnfax::SipOptions sip;
  fe::TFeFaxLog history;  // outlives the component that writes to it
  fe::TFeReceiveFax fax;
  fax.ConstantStatus = true;
  std::string portName, trace;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    int n = 0;
    bool ok = true;
    if (const int taken = media.Take(args, i); taken != 0) {
      ok = taken > 0;
    } else if (const int sipTaken = sip.Take(args, i); sipTaken != 0) {
      ok = sipTaken > 0;
    } else if (a == "--port") {
      ok = value(portName);
    } else if (a == "--dir") {
      ok = value(fax.DestinationDir);
    } else if (a == "--class") {
      ok = value(v);
      if (v == "auto")
        fax.FaxClass = fe::TFaxClass::fcDetect;
      else if (v == "1")
        fax.FaxClass = fe::TFaxClass::fcClass1;
      else if (v == "2")
        fax.FaxClass = fe::TFaxClass::fcClass2;
      else if (v == "2.0")
        fax.FaxClass = fe::TFaxClass::fcClass2_0;
      else
        ok = false;
    } else if (a == "--bps") {
      ok = value(v) && qnfax::ToCount(v, fax.DesiredBPS);
    } else if (a == "--ecm") {
      fax.DesiredECM = true;
    } else if (a == "--station-id") {
      ok = value(fax.StationID);
    } else if (a == "--rings") {
      ok = value(v) && qnfax::ToCount(v, n) && n >= 1;
      fax.AnswerOnRing = static_cast<unsigned>(n);
    } else if (a == "--one") {
      fax.OneFax = true;
    } else if (a == "--init") {
      ok = value(fax.ModemInit);
    } else if (a == "--trace") {
      ok = value(trace);
    } else if (a == "--log") {
      ok = value(history.FaxHistoryName) && !history.FaxHistoryName.empty();
      fax.FaxLog = &history;
    } else {
      return qnfax::fail("receive: unknown option " + a + "\n" + kUsage, 2);
    }
    if (!ok) return qnfax::fail("receive: " + a + " needs a valid value\n" + kUsage, 2);
  }
  if (sip.Given()) {
    if (!portName.empty() || media.Given()) return qnfax::fail("receive: --sip excludes --port and --media", 2);
    if (fax.DestinationDir.empty()) return qnfax::fail("receive: --dir is needed", 2);
    std::string error;
    if (!sip.Finish(media.codec, error)) return qnfax::fail("receive: " + error, 2);
    fax.FaxClass = fe::TFaxClass::fcClass1;  // the virtual modem is a Class 1 modem
  } else if (media.Given()) {
    if (!portName.empty()) return qnfax::fail("receive: --port and --media exclude each other", 2);
    if (fax.DestinationDir.empty()) return qnfax::fail("receive: --dir is needed", 2);
    fax.FaxClass = fe::TFaxClass::fcClass1;  // the virtual modem is a Class 1 modem
  } else if (portName.empty() || fax.DestinationDir.empty()) {
    return qnfax::fail("receive: --port and --dir are needed", 2);
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(fax.DestinationDir, ec))
    return qnfax::fail("receive: " + fax.DestinationDir + " is not a folder", 2);

  qnfax::FaxCommandPort modem;
  fe::TFeQueueSink* events = &modem.sink;
  if (sip.Given()) {
    std::string error;
    if (!sipLine.emplace().Open(sip, trace, error)) return qnfax::fail("receive: " + error, 2);
    sipLine->Attach(fax);
    events = &sipLine->sink;
    std::printf("Listening as sip:%s@%s on SIP port %d\n", sip.account.user.c_str(), sip.account.domain.c_str(),
                sipLine->agent.SipPort());
    if (sip.account.registrar != "-") {
      const fe::sip::TRegistration r = sipLine->agent.WaitRegistration(std::chrono::seconds(10));
      std::printf("Registration: %s\n", fe::sip::RegistrationText(r).c_str());
    }
    std::fflush(stdout);
  } else if (media.Given()) {
    std::string error;
    if (!line.emplace().Open(media, false, trace, error)) return qnfax::fail("receive: " + error, 2);
    line->Attach(fax);
    events = &line->sink;
    std::printf("Listening on %s\n", line->session.LocalAddress().Text().c_str());
    std::fflush(stdout);
  } else if (const int rc = modem.Open(fax, portName, trace); rc < 0) {
    return qnfax::fail("receive: cannot open " + portName + ": " + qnfax::FaxErrorMessage(rc));
  }
  int lastStatus = -1, result = -1;
  fax.OnFaxStatus = [&](fe::TFeAbstractFax& cp, bool, bool last) {
    const fe::TFaxSessionValues v = cp.Session();
    if (last || v.status == lastStatus) return;
    lastStatus = v.status;
    std::printf("%s\n", fe::StatusText(v.status).c_str());
    std::fflush(stdout);
  };
  fax.OnFaxLog = [](fe::TFeAbstractFax& cp, int code) {
    const fe::TFaxSessionValues v = cp.Session();
    if (code == fe::lfReceiveFinished || code == fe::lfReceiveFailed)
      std::printf("%s %s: %d page%s%s%s\n", code == fe::lfReceiveFinished ? "Received" : "Partly received",
                  v.faxFile.c_str(), v.pages, v.pages == 1 ? "" : "s", v.remoteId.empty() ? "" : " from ",
                  v.remoteId.c_str());
    else if (code == fe::lfReceiveSkipped)
      std::printf("Refused a call\n");
    std::fflush(stdout);
  };
  fax.OnFaxError = [](fe::TFeAbstractFax&, int code) {
    if (code != fe::ecCancelRequested || !gStop)
      std::fprintf(stderr, "qnfax: receive: %s\n", qnfax::FaxErrorMessage(code).c_str());
  };
  fax.OnFaxFinish = [&](fe::TFeAbstractFax&, int code) { result = code; };

  // A file size limit must end a fax with "disk full", not end the program.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  if (const int rc = fax.StartReceive(); rc < 0) return qnfax::fail("receive: " + qnfax::FaxErrorMessage(rc));
  bool cancelled = false;
  while (result < 0 || fax.Running()) {
    events->RunFor(std::chrono::milliseconds(100));
    if (gStop && !cancelled) {
      cancelled = true;
      fax.Cancel();
    }
  }
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  if (!media.Given() && !sip.Given()) modem.DumpTrace();
  // Stopping on request is how a receiver normally ends.
  const bool clean = result == 0 || (cancelled && result == fe::ecCancelRequested);
  std::printf("%s\n", clean ? "Stopped" : qnfax::FaxErrorMessage(result).c_str());
  return clean ? 0 : 1;
}

}  // namespace

QNFAX_COMMAND(receive, "receive --port PORT | --media rtp ... | --sip ... --dir FOLDER [options]",
              "wait for calls and store received faxes", RunReceive);
