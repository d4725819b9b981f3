// TFeReceiveFax: waits for calls on a fax modem, answers, receives the pages into
// an APF file in the destination folder and waits for the next call. A state
// machine on the shared fax base, run on the port's dispatch thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "abstract_fax.h"
#include "ecm.h"
#include "hdlc.h"
#include "rx_file.h"
#include "rx_naming.h"
#include "rx_quality.h"
#include "t30.h"

namespace fe {

class TFeReceiveFax : public TFeAbstractFax {
 public:
  TFeReceiveFax();
  ~TFeReceiveFax() override;

  // --- properties ---
  unsigned AnswerOnRing = 1;    // rings to count before answering
  bool FaxAndData = false;      // Class 2/2.0 adaptive answer ("AT+FAA=1")
  bool OneFax = false;          // stop after one fax
  bool ConstantStatus = false;  // keep the status display up between calls
  std::string DestinationDir;   // folder for received files
  TReceiveNaming Naming = TReceiveNaming::rnFaxNumber;
  TFaxAcceptEvent OnFaxAccept;  // var accept, true when not assigned
  TFaxNameEvent OnFaxName;      // var name: the full name of the file to create
  // Class 1 without error correction: when a page is answered RTP or RTN.
  TCopyQualityLimits CopyQuality;
  // RTN asks for a poor page again at most this often; a copy that is still
  // poor after that is kept (RTP) and noted as damaged rather than lost with a
  // caller that gives up.
  int MaxRtnPerPage = 2;
  // Class 1: a page that grows past this (its data never ends) fails the call
  // with error 1004; far beyond any real page.
  std::size_t MaxPageBytes = 8u << 20;

  // Prepares the modem (synchronously) and starts waiting for calls. 0 or a
  // negative error: 8061 when the modem does not answer the preparation.
  int StartReceive();

  TReceiveFaxState State() const { return state_; }
  // Faxes received completely since StartReceive.
  int FaxesReceived() const { return faxesReceived_; }

 protected:
  void OnLinkEvent(TLinkEvent ev) override;
  void OnCancel() override;

 private:
  enum class Input { Lines, Frame, Training, Page };

  void SetState(TReceiveFaxState s);
  void Process();
  void HandleLine(const std::string& line);
  void HandleBlockData(const std::vector<std::uint8_t>& data);
  void HandleBlockEnd();
  void HandleTimeout();
  void FlushOrderProbe();

  // Steps shared by both classes.
  void Reset();
  void Waiting(const std::string& line);
  void Answer();
  bool AskAccept();
  bool CreateFile();
  void BeginPage();
  int CloseFile();
  void ReceiveFinished();
  void CallDone();
  void Fail(int code);
  void Refuse();
  void RefuseDone();
  void Stop(int finalCode);

  // Class 1.
  void Class1Line(const std::string& line);
  void SendFrame(std::uint8_t fcf, const std::vector<std::uint8_t>& fif, bool final);
  void ReceiveFrames(TReceiveFaxState s, int delayMs = kDelayHdlcMs);
  void RetryFrames();
  void FramesComplete();
  void JudgeTraining();
  void PostPageFrame(const t30::Frame& f);
  bool RepeatedPostPage(const std::vector<t30::Frame>& frames);
  void PageTooLong();
  void EndAcceptedCall();
  void SendNegotiation();
  void AfterMcf();
  void ListenPage(bool longTraining);
  void Respond(std::uint8_t fcf, std::vector<std::uint8_t> fif = {});
  bool PageBuffered() const;
  bool KeepPageData(const std::uint8_t* data, std::size_t n);
  int WritePageData();
  int EndPage(TPageQuality* quality = nullptr);

  // Class 1 error correction (receive_ecm.cpp).
  void EcmStart();
  void EcmBurstData(const std::vector<std::uint8_t>& data);
  void EcmCommand(const std::vector<t30::Frame>& frames);
  bool EcmRepeatedCommand(const t30::Frame& f);
  void EcmPps(const t30::Frame& f);
  void EcmEor(const t30::Frame& f);
  void EcmCtc(const t30::Frame& f);
  void EcmBlockDone(const std::vector<std::uint8_t>& data, std::uint8_t fcf2, std::uint8_t answer);
  void EcmAnswered();
  void EcmEndCall(const std::string& why);

  // Class 2 and 2.0.
  void Class2Line(const std::string& line);
  void Class2PageStatus(int value);
  void Class2Report(const std::string& line);

  void Timer(long ticks);
  void Connected(Input mode);

  TReceiveFaxState state_ = rfNone;
  Input input_ = Input::Lines;
  std::vector<std::uint8_t> block_;
  std::vector<t30::Frame> frames_;
  bool frameDone_ = false;  // a frame ended with DLE ETX, awaiting OK/ERROR
  unsigned rings_ = 0;
  int attempts_ = 0;
  int initFailures_ = 0;
  bool firstStatus_ = true;
  bool inCall_ = false;
  bool asked_ = false;
  bool accepted_ = false;
  bool refusing_ = false;  // Class 1: DCN on its way to a refused caller
  std::string remoteId_;
  std::vector<int> rxModulations_;
  int maxBps_ = 9600;
  t30::DcsParams dcs_;
  std::vector<std::uint8_t> dcsFif_;
  bool disSent_ = false;
  bool csiPending_ = false;  // "AT+FTH=3" sent, CSI and DIS go out on CONNECT
  bool haveDcs_ = false;
  std::size_t trainBytes_ = 0, trainNonZero_ = 0;
  bool trainingGood_ = false;
  std::uint8_t postPage_ = 0;  // MPS, EOM or EOP of the page just received (0: a block inside a page)
  std::uint8_t answer_ = 0;    // Class 1: the response rf1SendMCF sends (MCF, PPR, CTR, ERR, DCN)
  std::vector<std::uint8_t> answerFif_;
  // Class 1 pages held in memory until they end: their copy quality is judged
  // then, MR and MMR pages are decoded, error-corrected pages are built from
  // the blocks confirmed so far.
  std::vector<std::uint8_t> pageData_;
  bool pageHole_ = false;  // error correction gave up on frames of this page (EOR)
  // Class 1: the last post-page command and our answer to it. The caller sends
  // the command again when it missed our answer: it gets the same answer, the
  // page is not ended twice. A DCS (new training) or a new page forgets it.
  std::uint8_t lastPostCmd_ = 0;
  std::uint8_t lastPostAnswer_ = 0;
  int postRepeats_ = 0;
  int rtnCount_ = 0;         // RTN given for the page coming now
  bool callLogged_ = false;  // this call's outcome (log code 5, 6 or 7) was reported
  // Class 1 error correction: the frames of the block being received, the
  // counters the next PPS must name and the block confirmed last (a PPS naming
  // it again means our MCF was lost).
  bool ecm_ = false;
  bool burstSeen_ = false;  // a burst arrived in this call: V.21 instead of one is a command
  hdlc::TDeframer deframer_{270};
  ecm::TBlockCollector collector_{256};
  std::uint8_t ecmPage_ = 0, ecmBlock_ = 0;
  std::uint8_t prevPage_ = 0, prevBlock_ = 0, prevFcf2_ = 0;
  bool havePrev_ = false;
  std::uint8_t lastAnswer_ = 0;  // the last response to a PPS, EOR or CTC, for RR and CRP
  std::vector<std::uint8_t> lastAnswerFif_;
  int endCode_ = 0;        // the error a DCN of ours ends the call with
  int fet_ = -1;           // Class 2: +FET value of the page just received
  int pageStatus_ = -1;    // Class 2: page status report of the page just received
  bool pageKept_ = false;  // Class 2: the page just received was kept (not refused)
  bool lastPageDone_ = false;
  bool fineParam_ = false, wideParam_ = false;
  // Class 2 page data bit order, found from the first page and kept for the modem.
  enum class BitOrder { Unknown, Direct, Reversed };
  static constexpr std::size_t kOrderProbeBytes = 2048;
  BitOrder bitOrder_ = BitOrder::Unknown;
  std::vector<std::uint8_t> orderProbe_;
  // Class 1: the page's first end of line has not come yet; zero bits seen so far.
  bool beforeFirstEol_ = false;
  std::vector<std::uint8_t> pageStart_;
  RxFaxFile file_;
  int faxesReceived_ = 0;
  std::chrono::steady_clock::time_point lastStatus_;  // last progress report of the page
};

}  // namespace fe
