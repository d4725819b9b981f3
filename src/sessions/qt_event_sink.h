// The fax engine's event sink on the Qt event loop: a call sent from an engine
// thread runs on the thread that created the sink (the user-interface thread)
// as a queued call; Send waits for it up to its time-out, Post does not wait.
//
// Conventions: create and destroy the sink on the user-interface thread. A call
// is never withdrawn: one not handled within the time-out still runs when the
// event loop gets to it (Send then answers false), so a slow interface delays
// the engine's events but loses none. Calls still queued when the sink goes are
// dropped, and senders waiting for them are released at once. A call sent from
// the user-interface thread itself runs at once.
#pragma once

#include <QObject>
#include <memory>

#include "fe_eventsink.h"

namespace qn {

class TQtEventSink final : public fe::TFeEventSink {
 public:
  TQtEventSink();
  ~TQtEventSink() override;
  TQtEventSink(const TQtEventSink&) = delete;
  TQtEventSink& operator=(const TQtEventSink&) = delete;

  bool Send(std::function<void()> call, std::chrono::milliseconds timeout) override;
  // Queues the call behind every earlier one and returns at once.
  void Post(std::function<void()> call) override;
  // Runs the calls waiting for this sink (user-interface thread only).
  void ProcessPending() override;

 private:
  struct Shared;
  std::unique_ptr<QObject> receiver_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace qn
