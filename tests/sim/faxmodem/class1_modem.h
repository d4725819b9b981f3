// A virtual Class 1 fax modem: spandsp's T.31 modem behind a pseudo-terminal.
#pragma once

#include <cstdint>
#include <string>

#include "endpoint.h"
#include "pty.h"

struct t31_state_s;

namespace faxsim {

class Class1Modem : public Endpoint {
 public:
  Class1Modem(std::string number, std::string link, Exchange& exchange, Events& events);
  ~Class1Modem() override;

  std::string describe() const override;
  const std::string& device() const { return pty_.slavePath(); }

  void ringing(int ringCount) override;
  void callAnswered() override;
  void callFailed(CallFailure failure) override;
  void callEnded() override;

  bool wantsGateway() const override { return true; }

  void txAudio(int16_t* amp, int samples) override;
  void rxAudio(const int16_t* amp, int samples) override;
  void service(int samples) override;

 private:
  static int atOutput(void* state, void* user, const uint8_t* buf, size_t len);
  static int modemControl(t31_state_s* state, void* user, int op, const char* num);

  Pty pty_;
  t31_state_s* t31_ = nullptr;
  bool cts_ = true;  // false while the modem's transmit buffer is above its high-water mark
};

}  // namespace faxsim
