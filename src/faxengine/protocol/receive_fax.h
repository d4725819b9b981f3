// TFeReceiveFax: waits for calls on a fax modem, answers, receives the pages into
// an APF file in the destination folder and waits for the next call. A state
// machine on the shared fax base, run on the port's dispatch thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "abstract_fax.h"
#include "rx_file.h"
#include "rx_naming.h"
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
  void SendNegotiation();
  void AfterMcf();

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
  std::uint8_t postPage_ = 0;  // MPS, EOM or EOP of the page just received
  int fet_ = -1;               // Class 2: +FET value of the page just received
  int pageStatus_ = -1;        // Class 2: page status report of the page just received
  bool pageKept_ = false;      // Class 2: the page just received was kept (not refused)
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
