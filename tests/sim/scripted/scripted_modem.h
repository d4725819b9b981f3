// A scripted AT modem on a pseudo-terminal, for tests that need an exact modem
// dialogue. The test builds a script of steps (expect a command, reply, pause,
// ring, send a frame, take page data, hang up ...), points the port at
// DevicePath() and starts the script; the modem runs it on its own thread and
// records everything it received. A step that is not met (a different command,
// a time-out) is recorded as a failure, answered with "ERROR" and ends the script.
//
//   qnsim::ScriptedModem modem;
//   modem.Expect("ATE0Q0V1X4S0=0S2=43").Reply("OK")
//        .Expect("AT+FCLASS=1").Reply("OK")
//        .Expect("ATDT5551234").Pause(200ms).Reply("CONNECT")
//        .Frame("\xFF\x03\x80...")           // a received HDLC frame, DLE ETX after it
//        .Reply("OK");
//   modem.Start();
//   ... run the code under test on modem.DevicePath() ...
//   EXPECT_TRUE(modem.WaitDone(5s)) << modem.Report();
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qnsim {

using namespace std::chrono_literals;

inline constexpr char kDLE = 0x10;
inline constexpr char kETX = 0x03;

class ScriptedModem {
 public:
  using Duration = std::chrono::milliseconds;

  // Opens the pseudo-terminal (raw mode, no echo) and leaves the script empty.
  ScriptedModem();
  ~ScriptedModem();  // stops the script and closes the pseudo-terminal
  ScriptedModem(const ScriptedModem&) = delete;
  ScriptedModem& operator=(const ScriptedModem&) = delete;

  // The device the code under test opens (/dev/pts/N).
  const std::string& DevicePath() const { return devicePath_; }

  // ---- script steps, run in order ----
  // The next command line from the computer (up to CR; LF and empty lines are
  // skipped), compared without letter case.
  ScriptedModem& Expect(std::string_view command);
  // Like Expect, but any line that starts with `prefix` is taken.
  ScriptedModem& ExpectPrefix(std::string_view prefix);
  // A verbal result code: CR LF text CR LF ("OK", "CONNECT", "BUSY", "NO DIALTONE", "VOICE",
  // "NO CARRIER", "+FHNG:0" ...).
  ScriptedModem& Reply(std::string_view result);
  // Expect(command) followed by Reply(result).
  ScriptedModem& Answer(std::string_view command, std::string_view result = "OK") {
    return Expect(command).Reply(result);
  }
  // Raw bytes, sent as given.
  ScriptedModem& Send(std::string_view bytes);
  // Bytes sent one at a time with `gap` between them (fragmented input).
  ScriptedModem& Trickle(std::string_view bytes, Duration gap);
  ScriptedModem& Pause(Duration d);
  // `count` RING result codes, `gap` apart.
  ScriptedModem& Ring(int count = 1, Duration gap = 500ms);
  // A received HDLC frame as a Class 1 modem delivers it: the bytes with every DLE
  // doubled, then DLE ETX (the result code that follows is a separate Reply).
  ScriptedModem& Frame(std::string_view frame);
  // Page data or a frame from the computer: bytes up to DLE followed by one of
  // `enders` (ETX for Class 1 and 2; "," ";" "." too for Class 2.0), with DLE DLE
  // taken as one DLE. The unescaped bytes become one entry of DataBlocks(), the
  // ending character is recorded in DataEnders(). `limit` bounds the wait.
  ScriptedModem& ExpectData(std::string_view enders = std::string_view("\x03", 1), Duration limit = 20s);
  // Takes exactly `count` raw bytes (for a hang-up in the middle of page data).
  ScriptedModem& ExpectBytes(std::size_t count, Duration limit = 20s);
  // Waits for one byte equal to `c` (for example XON, or CAN).
  ScriptedModem& ExpectByte(char c, Duration limit = 10s);
  // `count` bytes of noise from a fixed pseudo-random sequence.
  ScriptedModem& Garbage(std::size_t count, unsigned seed = 1);
  // Closes the pseudo-terminal: to the computer the device vanishes.
  ScriptedModem& HangUp();
  // Whatever a test needs in between (runs on the script thread).
  ScriptedModem& Call(std::function<void(ScriptedModem&)> fn);

  // Time allowed for each Expect (default 10 s).
  void SetExpectTimeout(Duration d) { expectTimeout_ = d; }
  // Echo received characters back (as a modem in ATE1 does). Off by default.
  void SetEcho(bool on) { echo_ = on; }

  // ---- running ----
  void Start();
  // Waits until the script has run to its end (or failed); true when it ran to
  // its end without failure.
  bool WaitDone(Duration limit);
  bool Done() const;
  // Stops the script at once (the destructor does this too).
  void Stop();

  // ---- what happened ----
  bool Ok() const;
  std::vector<std::string> Failures() const;
  std::string Received() const;               // every byte received, in order
  std::vector<std::string> Commands() const;  // command lines taken by Expect steps
  std::vector<std::string> DataBlocks() const;
  std::string DataEnders() const;
  std::string Report() const;  // failures and the commands seen, for test messages

  // Used by Call steps: send bytes now.
  void Write(std::string_view bytes);

 private:
  struct Step {
    std::function<bool(ScriptedModem&)> run;  // false: the script ends
  };
  ScriptedModem& Add(std::function<bool(ScriptedModem&)> fn);
  void Run();
  void Fail(std::string what);
  // Reads into pending_ until `enough` says so or the time runs out.
  bool ReadUntil(const std::function<bool()>& enough, std::chrono::steady_clock::time_point until);
  bool ReadLine(std::string& line, std::chrono::steady_clock::time_point until);
  bool Sleep(Duration d);  // false when stopped meanwhile

  int master_ = -1;
  int slave_ = -1;  // kept open so that the terminal survives the computer closing and reopening it
  int stopPipe_[2] = {-1, -1};
  std::string devicePath_;
  Duration expectTimeout_ = 10s;
  bool echo_ = false;
  std::vector<Step> steps_;
  std::string pending_;  // received, not yet taken by a step

  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool started_ = false, done_ = false, stopping_ = false;
  std::vector<std::string> failures_;
  std::string received_;
  std::vector<std::string> commands_;
  std::vector<std::string> dataBlocks_;
  std::string dataEnders_;
  std::thread thread_;
};

}  // namespace qnsim
