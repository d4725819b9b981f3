// qn-covergen: compiles cover template descriptions (see cover_description.h)
// into flat templates with their description and preview picture.
//   qn-covergen OUTPUT-FOLDER FILE.cover...   one template per file, named after it
//   qn-covergen --shipped OUTPUT-FOLDER       the templates Quillon ships
#include <QGuiApplication>
#include <cstdio>
#include <string>

#include "covers/cover_description.h"
#include "covers/shipped_covers.h"

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc >= 3 && std::string(argv[1]) == "--shipped") {
    const int n = covers::InstallShippedCovers(argv[2]);
    if (n < 0) {
      std::fprintf(stderr, "qn-covergen: cannot write the templates into %s\n", argv[2]);
      return 1;
    }
    std::printf("%d templates written\n", n);
    return 0;
  }
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: qn-covergen OUTPUT-FOLDER FILE.cover...\n       qn-covergen --shipped OUTPUT-FOLDER\n");
    return 2;
  }
  std::string folder = argv[1];
  if (folder.back() != '/') folder += '/';
  for (int i = 2; i < argc; ++i) {
    std::string text;
    if (!covers::ReadWholeFile(argv[i], text)) {
      std::fprintf(stderr, "qn-covergen: cannot read %s\n", argv[i]);
      return 1;
    }
    covers::CoverDescription d;
    std::string error;
    if (!covers::CompileCoverDescription(text, d, error)) {
      std::fprintf(stderr, "%s: %s\n", argv[i], error.c_str());
      return 1;
    }
    std::string base = argv[i];
    base = base.substr(base.rfind('/') + 1);
    base = base.substr(0, base.rfind('.'));
    if (!covers::SaveFlatTemplate(folder + base + ".FCT", d.records, d.description)) {
      std::fprintf(stderr, "qn-covergen: cannot write %s%s.FCT\n", folder.c_str(), base.c_str());
      return 1;
    }
  }
  return 0;
}
