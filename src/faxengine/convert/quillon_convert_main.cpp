// quillon-convert: renders one document (PDF or PostScript) for a Quillon
// program that started it; never run by hand.
#include "fe_document_worker.h"

int main(int argc, char** argv) {
  return fe::RunDocumentWorker(argc, argv);
}
