// qnfax send: sends APF files as one fax through a fax modem, printing each
// status text as it happens and the final result text.
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "cmd_faxport.h"
#include "cmd_media.h"
#include "cmd_sip.h"
#include "command.h"
#include "fe_eventsink.h"
#include "send_fax.h"

namespace {

const char* kUsage =
    "usage: qnfax send --port COMn|DEVICE --number NUMBER [--class auto|1|2|2.0] [--bps N] [--ecm]\n"
    "                  [--station-id ID] [--header TEXT] [--cover FILE] [--prefix P] [--attempts N]\n"
    "                  [--retry-wait S] [--init STRING] [--blind-dial] [--ignore-busy] [--pulse]\n"
    "                  [--trace FILE] [--log FILE] FILE.APF...\n"
    "       qnfax send --media rtp|t38 --local ADDR:PORT --remote ADDR:PORT [--codec pcmu|pcma]\n"
    "                  [--number NUMBER] [options] FILE.APF...\n"
    "       qnfax send --sip --user USER --domain DOMAIN [account options] --number NUMBER|URI\n"
    "                  [options] FILE.APF...\n\n"
    "Header tokens: $D date, $T time, $I station id, $P page, $N pages, $F sender,\n"
    "$R recipient, $S title. --log: the fax history file the lines of this fax are\n"
    "added to. Exit status 0 only when the fax was sent.\n\n";

int RunSend(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::printf("%s%s\n%s", kUsage, qnfax::kMediaUsage, qnfax::kSipUsage);
    return args.empty() ? 2 : 0;
  }
  std::optional<qnfax::MediaLine> line;  // outlive the component that uses their modem
  std::optional<qnfax::SipLine> sipLine;
  qnfax::MediaOptions media;
  qnfax::SipOptions sip;
  fe::TFeFaxLog history;  // outlives the component that writes to it
  fe::TFeSendFax fax;
  std::string portName, trace;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    auto number = [&](int& out) {
      std::string v;
      return value(v) && qnfax::ToCount(v, out);
    };
    std::string v;
    bool ok = true;
    if (const int taken = media.Take(args, i); taken != 0)
      ok = taken > 0;
    else if (const int sipTaken = sip.Take(args, i); sipTaken != 0)
      ok = sipTaken > 0;
    else if (a == "--port")
      ok = value(portName);
    else if (a == "--number")
      ok = value(fax.PhoneNumber);
    else if (a == "--class") {
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
    } else if (a == "--bps")
      ok = number(fax.DesiredBPS);
    else if (a == "--ecm")
      fax.DesiredECM = true;
    else if (a == "--station-id")
      ok = value(fax.StationID);
    else if (a == "--header")
      ok = value(fax.HeaderLine);
    else if (a == "--cover")
      ok = value(fax.CoverFile);
    else if (a == "--prefix")
      ok = value(fax.DialPrefix);
    else if (a == "--attempts")
      ok = number(fax.DialAttempts);
    else if (a == "--retry-wait")
      ok = number(fax.DialRetryWait);
    else if (a == "--init")
      ok = value(fax.ModemInit);
    else if (a == "--blind-dial")
      fax.BlindDial = true;
    else if (a == "--ignore-busy")
      fax.DetectBusy = false;
    else if (a == "--pulse")
      fax.ToneDial = false;
    else if (a == "--trace")
      ok = value(trace);
    else if (a == "--log") {
      ok = value(history.FaxHistoryName) && !history.FaxHistoryName.empty();
      fax.FaxLog = &history;
    } else if (a.rfind("--", 0) == 0)
      return qnfax::fail("send: unknown option " + a + "\n" + kUsage, 2);
    else
      files.push_back(a);
    if (!ok) return qnfax::fail("send: " + a + " needs a valid value\n" + kUsage, 2);
  }
  if (sip.Given()) {
    if (!portName.empty() || media.Given()) return qnfax::fail("send: --sip excludes --port and --media", 2);
    if (fax.PhoneNumber.empty()) return qnfax::fail("send: --number is needed with --sip", 2);
    std::string error;
    if (!sip.Finish(media.codec, error)) return qnfax::fail("send: " + error, 2);
    fax.FaxClass = fe::TFaxClass::fcClass1;  // the virtual modem is a Class 1 modem
  } else if (media.Given()) {
    if (!portName.empty()) return qnfax::fail("send: --port and --media exclude each other", 2);
    // Without call signalling the number only goes into the dial command.
    if (fax.PhoneNumber.empty()) fax.PhoneNumber = "1";
    fax.FaxClass = fe::TFaxClass::fcClass1;  // the virtual modem is a Class 1 modem
  } else if (portName.empty() || fax.PhoneNumber.empty()) {
    return qnfax::fail("send: --port and --number are needed", 2);
  }
  if (files.empty() && fax.CoverFile.empty()) return qnfax::fail("send: no fax file given", 2);
  if (files.size() == 1)
    fax.FaxFile = files.front();
  else
    fax.FaxFileList = files;

  qnfax::FaxCommandPort modem;
  fe::TFeQueueSink* events = &modem.sink;
  if (sip.Given()) {
    std::string error;
    if (!sipLine.emplace().Open(sip, trace, error)) return qnfax::fail("send: " + error, 2);
    sipLine->Attach(fax);
    events = &sipLine->sink;
    // A SIP address goes to the agent; the engine dials a plain number.
    fax.PhoneNumber = sipLine->DialString(fax.PhoneNumber);
    if (sip.account.registrar != "-") {
      const fe::sip::TRegistration r = sipLine->agent.WaitRegistration(std::chrono::seconds(10));
      if (r.state != fe::sip::TRegState::Registered)
        std::fprintf(stderr, "qnfax: send: registration: %s\n", fe::sip::RegistrationText(r).c_str());
    }
  } else if (media.Given()) {
    std::string error;
    if (!line.emplace().Open(media, true, trace, error)) return qnfax::fail("send: " + error, 2);
    line->Attach(fax);
    events = &line->sink;
  } else if (const int rc = modem.Open(fax, portName, trace); rc < 0) {
    return qnfax::fail("send: cannot open " + portName + ": " + qnfax::FaxErrorMessage(rc));
  }
  int lastStatus = -1, lastPage = -1, result = -1;
  fax.OnFaxStatus = [&](fe::TFeAbstractFax& cp, bool, bool last) {
    fe::TFaxSessionValues v = cp.Session();
    if (last || (v.status == lastStatus && v.page == lastPage)) return;
    lastStatus = v.status;
    lastPage = v.page;
    if (v.status == fe::fsSendingPage)
      std::printf("%s: %s\n", fe::StatusText(v.status).c_str(), v.page == 0 ? "cover" : std::to_string(v.page).c_str());
    else
      std::printf("%s\n", fe::StatusText(v.status).c_str());
    std::fflush(stdout);
  };
  fax.OnFaxError = [](fe::TFeAbstractFax&, int code) {
    std::fprintf(stderr, "qnfax: send: %s\n", qnfax::FaxErrorMessage(code).c_str());
  };
  fax.OnFaxFinish = [&](fe::TFeAbstractFax&, int code) { result = code; };
  fax.StartSend();
  events->RunUntil([&] { return result >= 0 && !fax.Running(); }, std::chrono::hours(24));
  if (!media.Given() && !sip.Given()) modem.DumpTrace();
  std::printf("%s\n", result == 0 ? "Fax sent" : qnfax::FaxErrorMessage(result).c_str());
  return result == 0 ? 0 : 1;
}

}  // namespace

QNFAX_COMMAND(send, "send --port PORT --number NUMBER | --media rtp ... | --sip ... [options] FILE.APF...",
              "send APF files as one fax", RunSend);
