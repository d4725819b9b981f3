// Faxing over an IP call instead of through a modem port, for qnfax send and
// receive: the options --media rtp|t38, --local ADDR:PORT (or ADDR:LOW-HIGH),
// --remote ADDR:PORT and --codec pcmu|pcma, and the line they set up: a media
// session whose virtual Class 1 modem takes the place of the opened port.
#pragma once

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "abstract_fax.h"
#include "fe_eventsink.h"
#include "media_session.h"
#include "path_factory.h"

namespace qnfax {

inline constexpr const char* kMediaUsage =
    "Over an IP call instead of a modem: --media rtp|t38 --local ADDR:PORT|ADDR:LOW-HIGH\n"
    "[--remote ADDR:PORT] [--codec pcmu|pcma] (rtp: G.711 in RTP; t38: T.38 in UDPTL).\n"
    "The sender needs --remote; a receiver answers whoever sends to its --local port.\n"
    "With --media, --trace FILE writes the call's trace (call events, engine notes).\n";

struct MediaOptions {
  std::string media, local, remote, codec = "pcmu";
  bool Given() const { return !media.empty(); }

  // Takes option args[i] (and its value) when it is one of ours: 1 taken,
  // 0 not ours, -1 value missing.
  int Take(const std::vector<std::string>& args, size_t& i) {
    std::string* target = nullptr;
    if (args[i] == "--media")
      target = &media;
    else if (args[i] == "--local")
      target = &local;
    else if (args[i] == "--remote")
      target = &remote;
    else if (args[i] == "--codec")
      target = &codec;
    if (!target) return 0;
    if (i + 1 >= args.size() || args[i + 1].empty()) return -1;
    *target = args[++i];
    return 1;
  }
};

// The line of one command: the session and the queue its engine's events run
// through. Declare it before the fax component, so that it outlives it.
class MediaLine {
 public:
  ~MediaLine() {
    session.Stop();
    if (trace_) trace_->flush();
  }

  // Binds the socket and starts the media clock; false with error set.
  bool Open(const MediaOptions& o, bool calling, const std::string& traceFile, std::string& error) {
    fe::voip::TMediaConfig config;
    config.calling = calling;
    fe::voip::TPathChoice choice(o.media, o.codec);
    config.makePath = fe::voip::MakePathFactory(choice, &error);
    if (!config.makePath) return false;
    if (o.local.empty()) return error = "--local ADDR:PORT is needed with --media", false;
    if (!fe::voip::ParseLocalBinding(o.local, config.local, &error)) return error = "--local: " + error, false;
    if (!o.remote.empty() && !fe::voip::ParseUdpAddress(o.remote, config.remote, &error))
      return error = "--remote: " + error, false;
    if (calling && o.remote.empty()) return error = "--remote ADDR:PORT is needed to send with --media", false;
    if (!traceFile.empty()) {
      trace_ = std::make_unique<std::ofstream>(traceFile, std::ios::trunc);
      if (!*trace_) return error = "cannot write the trace file " + traceFile, false;
      auto line = [this](const std::string& text) {
        std::lock_guard<std::mutex> lk(traceMu_);
        // Flushed line by line: the trace is what is left when a call goes wrong.
        *trace_ << text << std::endl;
      };
      session.SetTrace(line);
      // The engine's notes get the time since the session started, as the
      // session's own lines have it.
      const auto start = std::chrono::steady_clock::now();
      session.Modem().SetTrace([line, start](const std::string& text) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        char at[32];
        std::snprintf(at, sizeof at, "%lld.%03lld ", static_cast<long long>(ms.count() / 1000),
                      static_cast<long long>(ms.count() % 1000));
        line(at + ("engine: " + text));
      });
    }
    if (session.Open(config) != 0) return error = session.Error(), false;
    session.Start();
    return true;
  }

  void Attach(fe::TFeAbstractFax& fax) {
    fax.SetComPort(&session.Modem());
    fax.SetEventSink(&sink);
  }

  fe::voip::TMediaSession session;
  fe::TFeQueueSink sink;

 private:
  std::mutex traceMu_;
  std::unique_ptr<std::ofstream> trace_;
};

}  // namespace qnfax
