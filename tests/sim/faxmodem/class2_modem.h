// A virtual Class 2 / Class 2.0 fax modem: our own AT front end (the +F
// commands and reports of both command sets, page data with DLE framing)
// on a pseudo-terminal, and spandsp's T.30 engine with its fax modems on the line.
//
// Page data crosses between the two sides as TIFF pages: a page the DTE sends
// is decoded into a one-page file the T.30 engine then transmits as its own
// document (so pages are separated by EOM on the line); a page the engine
// receives is read back from its file and coded for the DTE.
//
// The T.30 engine wants a sender's page at the moment the remote's DIS arrives,
// while a DTE only sends it after +FDT. At that moment the modem serves its DTE
// alone until the page is in: the call's clock stands still meanwhile, so the
// far end notices nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "class2_commands.h"
#include "endpoint.h"
#include "pty.h"

struct fax_state_s;
struct t30_state_s;

namespace faxsim {

class Class2Modem : public Endpoint {
 public:
  // class20: the modem offers Class 2.0 (else Class 2).
  Class2Modem(std::string number, std::string link, bool class20, Exchange& exchange, Events& events);
  ~Class2Modem() override;

  std::string describe() const override;

  void ringing(int ringCount) override;
  void callAnswered() override;
  void callFailed(CallFailure failure) override;
  void callEnded() override;

  void txAudio(int16_t* amp, int samples) override;
  void rxAudio(const int16_t* amp, int samples) override;
  void service(int samples) override;

 private:
  enum class Pending { None, Dial, Answer, PostPage, LastPage, Receive };

  // DTE side.
  void readDte();
  void commandByte(uint8_t c);
  void commandLine(const std::string& line);
  bool command(const std::string& cmd);  // one command of a line; false: ERROR
  bool faxCommand(const std::string& cmd);
  void say(const std::string& line);  // a response line
  void finalResult(bool ok);
  void pageByte(uint8_t c);
  void pageFromDteEnded(int postPage);  // -1: DLE ETX (post-page command follows)

  // Line side.
  void startSession(bool calling);
  void endSession();
  bool buildSendPage();
  void deliverReceivedPage(int postPage);
  void flushReceivedPage();
  void reportHangup();
  bool serveDteUntil(const std::function<bool()>& done, int timeoutMs);
  static int onPhaseB(t30_state_s* s, void* user, int result);
  static int onPhaseD(t30_state_s* s, void* user, int result);
  static void onPhaseE(t30_state_s* s, void* user, int result);
  static void onFrame(t30_state_s* s, void* user, int incoming, const uint8_t* msg, int len);
  static int onDocument(t30_state_s* s, void* user, int status);

  Pty pty_;
  const bool class20Modem_;
  std::string workDir_;

  // AT state.
  bool echo_ = true;
  bool verbose_ = true;
  bool quiet_ = false;
  std::string fclass_ = "0";
  int autoAnswerRings_ = 0;
  std::string line_;
  std::string localId_;
  Class2Params local_;
  int bitOrder_ = 0;       // +FBOR
  bool dataMode_ = false;  // DTE bytes are page data
  // Page data is taken from the DTE no faster than the line would carry it; the
  // pseudo-terminal's buffer holds the DTE back meanwhile, as flow control would.
  double dataBudget_ = 0;
  std::chrono::steady_clock::time_point budgetTime_;
  bool dle_ = false;
  Pending pending_ = Pending::None;
  // ATA with no call ringing: off hook, a call that arrives now is taken at once.
  int answerWaitMs_ = -1;

  // Session.
  fax_state_s* fax_ = nullptr;
  bool calling_ = false;
  bool connectedReported_ = false;
  bool haveRemoteDis_ = false;
  Class2Params remote_;   // the far end's capabilities (sending)
  Class2Params session_;  // the session parameters (DCS)
  std::string remoteId_;
  bool finishSession_ = false;
  bool sessionOver_ = false;
  int hangupCode_ = 0;
  bool hangupReported_ = false;
  // Sending: the page the DTE is giving us.
  std::vector<uint8_t> page_;
  bool pageComplete_ = false;  // its data has ended
  int postPage_ = -1;          // 0 more pages, 1 another document, 2 last page
  bool pageReady_ = false;     // data and post-page command are in
  int pagesSent_ = 0;
  std::string sendFile_;
  // Receiving.
  std::string receiveFile_;
  int pagesReceived_ = 0;
  bool dteAwaitsPage_ = false;  // +FDR answered with CONNECT, page data not yet given
  int fillMs_ = 0;
  bool awaitingDcs_ = false;  // after EOM: the next page waits for a new DCS
  bool lastPageDone_ = false;
  std::string receivedPage_;  // coded page and reports, ready for the DTE
  bool havePage_ = false;
};

}  // namespace faxsim
