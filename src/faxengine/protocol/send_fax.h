// TFeSendFax: sends one or more APF files, each optionally after a cover page,
// through a Class 1, Class 2 or Class 2.0 fax modem. An event-driven state
// machine on the port's dispatch thread; see the states in fax_states.h.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "abstract_fax.h"
#include "ecm.h"
#include "send_pages.h"
#include "t30.h"

namespace fe {

using TFaxNextEvent =
    std::function<void(TFeAbstractFax& cp, std::string& phoneNumber, std::string& faxFile, std::string& coverFile)>;

class TFeSendFax : public TFeAbstractFax {
 public:
  TFeSendFax();
  ~TFeSendFax() override;

  // --- properties ---
  bool EnhTextEnabled = false;
  TextLineRenderer* EnhHeaderFont = nullptr;  // used when EnhTextEnabled (the Qt layer supplies it)
  TextLineRenderer* EnhFont = nullptr;        // for text cover pages
  std::vector<std::string> FaxFileList;
  bool BlindDial = false;
  bool DetectBusy = true;
  bool ToneDial = true;
  std::string DialPrefix;
  int DialWait = 60;        // seconds
  int DialAttempts = 3;     // 0 = unlimited
  int DialRetryWait = 60;   // seconds
  int MaxSendCount = 50;
  int BufferMinimum = 1000;
  int NotReadyWait = 60;    // seconds a receiver may stay not ready (RNR) under error correction: T.30's T5
  std::string HeaderLine;
  std::string HeaderSender;
  std::string HeaderRecipient;
  std::string HeaderTitle;
  std::string CoverFile;
  std::string PhoneNumber;
  bool SafeMode = true;  // kept with the component; changes nothing in a session
  bool FastPage = true;
  TFaxNextEvent OnFaxNext;

  int DialAttempt() const { return Session().dialAttempt; }
  TSendFaxState State() const { return state_; }

  // Prepares the modem (synchronously) and starts the run. Returns 0 when the run
  // started; every later outcome arrives through the events, ending with exactly
  // one finish. A preparation failure is reported the same way and returned.
  int StartSend();

  std::string DefaultInitString() const override { return InitString(DetectBusy, BlindDial); }
  TFaxLogInfo LogInfo() const override;

 protected:
  void OnLinkEvent(TLinkEvent ev) override;
  void OnCancel() override;

 private:
  enum class Hdlc { Idle, WaitConnect, InFrame, WaitResult };

  static constexpr long kFdtTicks = 546;       // 30 s for "AT+FDT" to connect
  static constexpr long kT1Ticks = 637;        // 35 s for the remote's identification (T.30 T1)
  static constexpr long kPostPageTicks = 54;   // 3 s for the answer to a post-page frame
  static constexpr long kResponseTicks = 54;   // 3 s for the answer to the training check
  static constexpr int kMaxTurnarounds = 3;    // attempts at turning the line round
  static constexpr int kMaxPageSends = 3;      // tries at one page the remote answers with RTN

  void SetState(TSendFaxState s);
  void SetTimer(long ticks);
  void Send(const std::string& cmd, int delayMs = kDelayCommandMs);
  void WriteRaw(const std::vector<uint8_t>& bytes);

  // run level
  void NextFax();
  void StartFax();
  void FaxDone();
  void FaxFailed(int code);
  // Fails the fax and tells the remote so (DCN) before hanging up: for a call
  // the engine gives up while the modem waits for its next command.
  void FailAndDisconnect(int code);
  void EndTheRun(int code);
  void Dial();
  void DialResult(TModemReply r);

  // input dispatch
  void ProcessInput();
  void HandleLine(const std::string& line);
  void HandleTimer();
  void HandleOutput(TLinkEvent ev);

  // Class 1
  void ListenFrames();  // "AT+FRH=3"
  void FrameArrived(const std::optional<t30::Frame>& f);
  void RemoteFrames();
  void StartTSI(bool retry = false);
  void SendTraining();
  void TrainingAnswer(const t30::Frame& f);
  // Training went unanswered: train again, or one speed lower after three tries.
  void NoTrainingAnswer();
  // After FTT or unanswered trainings: DCS and training at the next lower speed.
  void StepDownAndTrain();
  // error correction: burst, PPS/CTC/EOR/RR, their answers
  // The page's data when it goes out as a whole (error correction or 2-D
  // coding): transcoded, then cut into frames or doubled for the modem; false
  // when the page could not be read (the fax has failed).
  bool WholePageData();
  t30::Frame EcmCommand() const;
  void EcmAnswer(const std::optional<t30::Frame>& f);
  void EcmNoAnswer();
  void EcmPpr(const t30::Frame& f);
  void EcmBlockDone();
  void StartPageModulation();
  void PrepPostPage();
  void SendPostPage();
  void PostPageAnswer(const std::optional<t30::Frame>& f);
  void PageAccepted(bool retrain);
  // RTN: train again and send the same page, or fail at its last try.
  void PageRefused();
  // After EOM: the remote starts phase B again with its DIS.
  void AwaitDis();
  void SendDCN();
  uint8_t PostPageFcf() const;

  // Class 2 / 2.0
  void Class2Line(const std::string& line, TModemReply r);
  void Class2PageStatus();
  void Class2SendFDT();

  // ending a call (send_end.cpp): the steps after a failure that tell the
  // remote, each waiting for the modem's answer within its time limit
  enum class Ending { None, Flush, EndData, AbortListen, DcnTurn, DcnSent, SessionEnd };
  void EndingStep(Ending step, int ms);
  void EndData();     // DLE ETX after page data, then the modem's "OK"
  void SayGoodbye();  // DCN (Class 1) or AT+FKS (Class 2/2.0)
  void EndingLine(TModemReply r);
  void EndingEvent();
  void EndingTimeout();
  // Hangs up and reports the failure: the end of FaxFailed, after the goodbye.
  void FinishFailure();

  // page data
  void BeginPageData();
  void PumpPage();
  void EndPageData();
  bool NextPageDiffers() const;

  TSendFaxState state_ = tfNone;
  Hdlc hdlc_ = Hdlc::Idle;
  std::vector<uint8_t> frameBuf_;
  std::optional<t30::Frame> lastFrame_;

  // run
  int requests_ = 0;
  int runResult_ = 0;
  bool firstStatus_ = true;
  std::string joinedFile_;
  int joinError_ = 0;

  // fax
  std::string phone_, faxFile_, coverFile_;
  std::vector<TSendPage> pages_;
  size_t pageIdx_ = 0;
  bool connected_ = false;
  bool dialing_ = false;
  int refusals_ = 0;

  // Class 1 negotiation
  t30::DisCaps remote_;
  bool disSeen_ = false;
  int bps_ = 9600;
  t30::ScanTime scan_ = t30::scan20ms;
  bool sessionFine_ = false;
  bool sessionWide_ = false;
  int turnAttempts_ = 0;   // AT+FTH=3 attempts for the current frame
  int postAttempts_ = 0;   // post-page frame sends
  int dcsAttempts_ = 0;
  uint8_t postFcf_ = 0;
  bool afterEOM_ = false;
  int pageRefusals_ = 0;   // RTNs for the current page
  bool farewell_ = false;  // the failure under way ends the call with DCN
  Ending ending_ = Ending::None;
  std::chrono::steady_clock::time_point endingUntil_;
  int failCode_ = 0;
  bool failLineInUse_ = false;

  // Class 1 error correction and coding
  t30::Coding coding_ = t30::Coding::MH;
  bool ecm_ = false;                           // agreed for this session
  std::unique_ptr<ecm::TPageFrames> ecmPage_;  // the page being sent, in frames
  size_t ecmBlock_ = 0;
  ecm::FrameMap ecmSend_;  // frames of the block the next burst carries
  size_t ecmSent_ = 0;     // frames in the last burst
  int ecmPprs_ = 0;        // PPRs for this block since the last CTC
  uint8_t ecmCmd_ = 0;     // the frame after a burst: PPS, CTC, EOR or RR
  uint8_t ecmPolled_ = 0;  // what RR asks the answer to: PPS or EOR
  uint8_t ecmPages_ = 0;   // page counter of the call
  int ecmCtcBps_ = 0;      // the speed a CTC offered
  bool ecmLongTrain_ = false;
  std::optional<std::chrono::steady_clock::time_point> ecmT5End_;  // while the remote is not ready

  // Class 2
  int pageStatus_ = -1;

  // page data
  TPageStream stream_;
  std::vector<uint8_t> out_;
  size_t outOff_ = 0;
  bool pageDataDone_ = false;
  long lastStatusTick_ = 0;
};

}  // namespace fe
