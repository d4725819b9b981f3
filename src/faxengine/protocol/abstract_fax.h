// TFeAbstractFax: everything the send and receive engines share. Properties,
// the events sent through the component's window (1-second time-out), the
// read-only session values, status, log and error reporting, class detection and
// the class support query, modem preparation, fixed delays, modem command I/O and
// the hang-up. The engines are state machines run on the port's dispatch thread
// through the TFaxLink events; the base serialises those with Cancel().
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "class2.h"
#include "fax_link.h"
#include "fax_states.h"
#include "fe_eventsink.h"
#include "fe_faxlog.h"
#include "fe_status.h"
#include "modem_reader.h"

namespace fe {

class TFeAbstractFax;

// Messages of the fax components' window, each sent with a 1-second time-out.
enum TFaxMessage : int {
  fmFaxNext = 32417,
  fmFaxStatus = 32418,
  fmFaxLog = 32419,
  fmFaxName = 32420,
  fmFaxAccept = 32421,
  fmFaxError = 32422,
  fmFaxFinish = 32423,
};
constexpr int kFaxMessageTimeoutMs = 1000;

using TFaxStatusEvent = std::function<void(TFeAbstractFax& cp, bool first, bool last)>;
using TFaxLogEvent = std::function<void(TFeAbstractFax& cp, int logCode)>;
using TFaxErrorEvent = std::function<void(TFeAbstractFax& cp, int errorCode)>;
using TFaxFinishEvent = std::function<void(TFeAbstractFax& cp, int errorCode)>;
using TFaxNameEvent = std::function<void(TFeAbstractFax& cp, std::string& name)>;
using TFaxAcceptEvent = std::function<void(TFeAbstractFax& cp, bool& accept)>;

// The status window side (TFeAbstractFaxStatus): First shows, Last hides.
class TFeAbstractFaxStatus {
 public:
  virtual ~TFeAbstractFaxStatus() = default;
  virtual void FaxStatus(TFeAbstractFax& fax, bool first, bool last) = 0;
};

// A received page kept with damage: lines that could not be read, or data the
// caller's error correction gave up on.
struct TPageDamage {
  int page = 0;
  unsigned badLines = 0;
  bool incomplete = false;
};

// Read-only values of the running session.
struct TFaxSessionValues {
  std::string remoteId;       // up to 20 characters
  int status = 0;             // current status code
  int page = 0;               // current page (0 while the cover page is sent)
  int pages = 0;              // total pages
  long pageLength = 0;        // bytes of the current page
  long bytesTransferred = 0;  // bytes of it sent or received so far
  int bps = 0;                // connect speed
  bool fine = false;
  bool wide = false;
  bool ecm = false;
  int dialAttempt = 0;
  int hangupCode = 0;        // Class 2/2.0 hang-up code
  std::string hangupReport;  // the same as the modem wrote it (Class 2 decimal, 2.0 hex)
  int lastError = 0;         // last error code reported
  std::string phoneNumber;
  std::string faxFile;
  std::string coverFile;
  std::vector<TPageDamage> damagedPages;  // receive: pages of this call kept with damage
};

class TFeAbstractFax : protected TFaxLinkHandler {
 public:
  TFeAbstractFax();
  ~TFeAbstractFax() override;
  TFeAbstractFax(const TFeAbstractFax&) = delete;
  TFeAbstractFax& operator=(const TFeAbstractFax&) = delete;

  // --- properties ---
  int InitBaud = 0;
  int NormalBaud = 0;
  TFaxClass FaxClass = TFaxClass::fcDetect;
  std::string ModemInit;  // up to 40 characters
  std::string StationID;  // up to 20, upper-cased before use
  TFeAbstractFaxStatus* StatusDisplay = nullptr;
  TFeFaxLog* FaxLog = nullptr;
  std::string FaxFile;
  bool AbortNoConnect = false;
  bool ExitOnError = false;
  bool SoftwareFlow = false;
  int StatusInterval = 1;
  int DesiredBPS = 9600;
  bool DesiredECM = false;
  std::string FaxFileExt = "APF";

  TFaxStatusEvent OnFaxStatus;
  TFaxLogEvent OnFaxLog;
  TFaxErrorEvent OnFaxError;
  TFaxFinishEvent OnFaxFinish;

  // The port; the component does not own it. With another link (or none) the
  // next run attaches afresh (the old link is left to its owner).
  void SetComPort(TFaxLink* link);
  TFaxLink* ComPort() const { return link_; }
  // Where the events run (the component's window): a sink that carries calls to
  // the owner's thread; without one they run on the port's dispatch thread.
  void SetEventSink(TFeEventSink* sink) { sink_ = sink ? sink : &directSink_; }

  // --- read-only session values ---
  // Inside an OnFaxLog or OnFaxStatus handler (and the status display): the
  // values of the moment the event happened, however late it runs.
  TFaxSessionValues Session() const;
  int Status() const;
  bool Running() const { return running_; }

  // Class support query: the initialisation string (two attempts at most), then
  // "AT+FCLASS=?". Remembered once the engine has been initialised. A link must
  // be set and the port open; answers "no class" when the modem does not answer.
  TClassSupport ClassSupport();

  // Asks a running session to stop (error 6005, status 42) and returns at once:
  // the port's dispatch thread ends the session, hangs up and reports.
  void Cancel();
  // Waits until the run has ended; false on time-out.
  bool WaitDone(int timeoutMs);
  // The final code of the last run (0 = success).
  int FinalCode() const { return finalCode_; }

  // The default initialisation string in the form for these dial options.
  static std::string InitString(bool detectBusy, bool blindDial);
  // The form this component uses ("ATE0Q0V1X4S0=0S2=43" unless a subclass says).
  virtual std::string DefaultInitString() const { return InitString(true, false); }

 protected:
  // Engine hooks.
  virtual void OnLinkEvent(TLinkEvent ev) = 0;  // runs under the engine lock
  virtual void OnCancel() = 0;                  // runs under the engine lock
  virtual void LogState(int state, const char* name);

  // --- run bookkeeping ---
  void BeginRun();             // marks running, attaches to the link
  void EndRun(int finalCode);  // last status, finish message, detaches
  bool CancelRequested() const { return cancelRequested_; }

  // --- reporting ---
  // A status update waits at most the message time-out for the owner and is
  // skipped when late; the first and last ones (which show and hide the status
  // display), logs, errors and the finish are queued and always arrive, once
  // each and in order.
  void SetStatus(int code, bool first = false, bool last = false);
  void PostLog(int logCode);
  void PostError(int code);
  void PostFinish(int code);
  // Runs call on the owner's thread (message msg, 1-second time-out); false when
  // it was not taken in time. The call must own what it uses.
  bool SendToOwner(int msg, std::function<void()> call);
  // Queues call for the owner's thread without waiting; it runs however late,
  // unless this component is gone by then.
  void PostToOwner(int msg, std::function<void()> call);
  // Records a Class 2/2.0 hang-up report: its code and the text the modem gave.
  void SetHangup(int code, const std::string& reported);
  // What the history log writes about this fax.
  virtual TFaxLogInfo LogInfo() const;
  template <typename F>
  void UpdateSession(F f) {
    std::lock_guard<std::mutex> lk(valuesMu_);
    f(values_);
  }

  // --- modem I/O ---
  // Writes a command and a carriage return after the fixed delay (ms).
  int Command(const std::string& cmd, int delayMs = kDelayCommandMs);
  int WriteBytes(const void* data, size_t n);
  // Reads waiting input into reader_.
  void Drain();
  // Sends cmd and waits (on the calling thread, outside a run) for "OK" within
  // timeoutTicks; lines other than the command's echo and the final word go to
  // answer. 0, -ecFaxBadModemResult on "ERROR" or another final word, -ecTimeout.
  int SyncCommand(const std::string& cmd, long timeoutTicks = kReplyTicks, std::string* answer = nullptr);
  // Modem preparation shared by both directions: class detection (fcUnknown is
  // fcDetect), ModemInit and the initialisation string once per component, the
  // Class 2/2.0 table and, for Class 1, the transmit modulations. 0 or -8061.
  int PrepareModem(const std::string& initString);
  // Hang-up: 1000 ms, "+++", 1000 ms, "ATH0", then the line is lowered.
  void HangUp();
  static void Sleep(int ms);

  static constexpr int kDelayCommandMs = 100;
  static constexpr int kDelayHdlcMs = 40;
  static constexpr int kDelayTurnaroundMs = 200;
  static constexpr int kDelayRepeatMs = 500;
  static constexpr int kDelayEscapeMs = 1000;
  static constexpr long kReplyTicks = 182;
  static constexpr long kDialTicks = 1092;
  static constexpr long kPageTicks = 1092;

  TFaxLink* link_ = nullptr;
  TModemReader reader_;
  TFaxClass activeClass_ = TFaxClass::fcUnknown;  // the class in use after preparation
  const TClass2Commands* c2_ = nullptr;
  std::vector<int> txModulations_;  // Class 1: "AT+FTM=?" answer
  int modemMaxBps_ = 14400;
  std::recursive_mutex engineMu_;

 private:
  void LinkEvent(TLinkEvent ev) final;
  TClassSupport QueryClasses(const std::string& initString);
  void EnsureAttached();

  TFeDirectSink directSink_;
  TFeEventSink* sink_ = &directSink_;
  // Queued calls hold a weak reference: they do nothing once the component is gone.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  mutable std::mutex valuesMu_;
  TFaxSessionValues values_;
  std::atomic<bool> running_{false};
  std::atomic<bool> cancelRequested_{false};
  std::atomic<int> finalCode_{0};
  std::mutex doneMu_;
  std::condition_variable doneCv_;
  std::mutex syncMu_;
  std::condition_variable syncCv_;
  bool attached_ = false;
  int inHandler_ = 0;
  bool initialised_ = false;
  bool supportKnown_ = false;
  TClassSupport support_;
};

}  // namespace fe
