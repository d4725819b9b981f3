// Whole qnfax calls over IP for the real-time tests and benchmarks: scratch
// folders, free loopback ports, qnfax send and receive with --media run as
// programs (the receiver in the background), and received pages compared row
// by row with the sent ones.
#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "fax_pages.h"
#include "sim_harness.h"

namespace fe::voip::test {

// A fresh scratch folder (with an "in" folder for received faxes).
std::string TempDir(const std::string& name);
// A loopback port nobody uses at the moment.
int FreePort();
std::string QnfaxBinary();
std::string ReadFile(const std::string& path);
size_t CountOf(const std::string& text, const std::string& what);

// Empty when the pages are the same, row by row; else what differs.
std::string PageDifferences(const std::vector<qn::sim::RasterPage>& got,
                            const std::vector<qn::sim::RasterPage>& sent);

// qnfax receive --media MEDIA --local 127.0.0.1:PORT --dir DIR/in --one
// --trace DIR/rx.trace [extra], in the background until it ends.
class QnfaxReceiver {
 public:
  QnfaxReceiver(const std::string& dir, const std::string& media, int port, std::vector<std::string> extra,
                std::chrono::seconds limit = std::chrono::seconds(90));
  ~QnfaxReceiver();
  void Join();
  const qn::sim::ProgramRun& Run() const { return run_; }

 private:
  qn::sim::ProgramRun run_;
  std::thread thread_;
};

// qnfax send --media MEDIA --local 127.0.0.1:LOCAL --remote 127.0.0.1:REMOTE
// --trace DIR/tx.trace [extra] FILE; output in DIR/tx.out.
qn::sim::ProgramRun QnfaxSend(const std::string& dir, const std::string& media, int local, int remote,
                              const std::string& file, std::vector<std::string> extra,
                              std::chrono::seconds limit = std::chrono::seconds(90));

}  // namespace fe::voip::test
