// The converter process's program (quillon-convert): see fe_document_worker.cpp
// for its arguments and fe_document_protocol.h for what it writes.
#pragma once

namespace fe {

// The whole program: returns its exit status.
int RunDocumentWorker(int argc, char** argv);

}  // namespace fe
