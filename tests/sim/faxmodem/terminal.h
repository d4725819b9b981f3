// A fax terminal: a remote fax machine made of spandsp's T.30 engine and fax
// modems. It answers calls by itself, or places one, and sends a TIFF-F file
// or receives into one.
#pragma once

#include <cstdint>
#include <string>

#include "endpoint.h"

struct fax_state_s;
struct t30_state_s;

namespace faxsim {

struct TerminalConfig {
  bool send = false;  // send the file (else receive into it)
  std::string number;
  std::string file;
  std::string ident;       // station identifier (default: the number)
  std::string callNumber;  // place a call to this number ...
  int callAfterMs = 0;     // ... this long after start
  int answerAfterRings = 1;
  bool ecm = false;
  bool wide = false;  // offer 255 mm (2048-pixel) pages as well as 215 mm
  // Codings offered (receiving) or allowed (sending): 1-D always, 2-D (MR)
  // unless mhOnly, T.6 (MMR, used only with ECM) when t6.
  bool mhOnly = false;
  bool t6 = false;
  int notReady = 0;  // answer this many receiver-not-ready before confirming (ECM)
};

class Terminal : public Endpoint {
 public:
  Terminal(TerminalConfig config, Exchange& exchange, Events& events);
  ~Terminal() override;

  std::string describe() const override;
  // Places a call now (used by the control channel and by callNumber).
  void call(const std::string& number);

  void ringing(int ringCount) override;
  void callAnswered() override;
  void callFailed(CallFailure failure) override;
  void callEnded() override;

  void txAudio(int16_t* amp, int samples) override;
  void rxAudio(const int16_t* amp, int samples) override;
  void service(int samples) override;

 private:
  void start(bool calling);
  void stop();
  static int phaseD(t30_state_s* s, void* user, int result);
  static void phaseE(t30_state_s* s, void* user, int result);

  TerminalConfig config_;
  fax_state_s* fax_ = nullptr;
  int sinceStartMs_ = 0;
  bool callPlaced_ = false;
  int hangupInMs_ = -1;  // hang up this long after the session ended
  // Summed over the pages of a session, for the result event: coded image
  // bytes as they went over the line, and rows the receiver found damaged.
  long imageBytes_ = 0;
  long badRows_ = 0;
};

}  // namespace faxsim
