// quillon-designershot: the picture of the designer for the documentation, made
// on a fresh program folder ($QUILLON_HOME): a business cover template is saved
// as a user would draw it, then the designer opens it as its most recent file
// and is captured with one field selected.   quillon-designershot OUT.png
#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "common/folders.h"
#include "common/ini_file.h"
#include "covers/designer/cover_designer.h"
#include "covers/designer/template_io.h"
#include "covers/objects/cover_objects.h"
#include "covers/stream/object_stream.h"

namespace {

using covers::StreamIdent;
using covers::StreamObject;
using covers::StreamProperty;
using covers::StreamSet;

StreamObject Object(const char* cls, int l, int t, int w, int h, std::vector<StreamProperty> more = {}) {
  StreamObject o{cls, "x", {{"Left", l}, {"Top", t}, {"Width", w}, {"Height", h}}, {}};
  for (auto& p : more) o.properties.push_back(std::move(p));
  return o;
}

std::vector<StreamProperty> Font(int height, bool bold, std::vector<StreamProperty> before = {}) {
  before.push_back({"Font.Color", StreamIdent{"clBlack"}});
  before.push_back({"Font.Height", height});
  before.push_back({"Font.Name", std::string("Arial")});
  before.push_back({"Font.Style", bold ? StreamSet{{"fsBold"}} : StreamSet{}});
  return before;
}

StreamObject Text(int l, int t, const char* caption, int height = -13, bool bold = false, int w = 110, int h = 22) {
  return Object("TFaxCoverLabel", l, t, w, h, Font(height, bold, {{"Caption", std::string(caption)}}));
}

StreamObject Field(int l, int t, const char* kind, const char* caption) {
  auto props = Font(-13, false, {{"Caption", std::string(caption)}});
  props.push_back({"CoverFieldType", StreamIdent{kind}});
  return Object("TFaxCoverField", l, t, 220, 20, props);
}

std::vector<StreamObject> BusinessCover() {
  return {
      Object(
          "TFaxCoverShapes", 24, 24, 720, 112,
          {{"ShapeFilltype", StreamIdent{"sftFilledBlack"}}, {"RoundPerc", 20}, {"Shape", StreamIdent{"stRoundRect"}}}),
      Object("TFaxCoverShapes", 40, 40, 150, 80, {{"ShapeFilltype", StreamIdent{"sftFilledWhite"}}}),
      Text(58, 48, "FAX", -53, true, 128, 66),
      Text(48, 168, "To:", -16, true),
      Field(170, 168, "cfRecipient", "[Recipient]"),
      Text(48, 200, "Fax:", -16, true),
      Field(170, 200, "cfRecipientFax", "[Recipient Fax]"),
      Text(48, 232, "From:", -16, true),
      Field(170, 232, "cfSender", "[Sender]"),
      Text(430, 168, "Date:", -16, true),
      Field(530, 168, "cfDate", "[Date]"),
      Text(430, 200, "Phone:", -16, true),
      Field(530, 200, "cfSenderVoice", "[Sender Phone]"),
      Text(48, 280, "Regarding:", -16, true),
      Field(170, 280, "cfRegarding", "[Regarding]"),
      Object("TFaxCoverLine", 24, 320, 720, 10, {{"Pen.Width", 2}}),
      Object("TFaxCoverImportance", 48, 340, 660, 20,
             Font(-13, false, {{"Caption", std::string(covers::kImportanceText)}})),
      Object("TFaxCoverLine", 24, 372, 720, 10, {{"Pen.Width", 2}}),
      Object("TFaxCoverMessage", 48, 400, 672, 420, Font(-16, false, {{"Caption", std::string("[Fax Message]")}})),
      Object("TFaxCoverLine", 24, 860, 720, 10),
      Field(48, 876, "cfSenderCompany", "[Sender Company]")};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: quillon-designershot OUT.png\n", stderr);
    return 2;
  }
  QApplication app(argc, argv);
  const QString out = QString::fromLocal8Bit(argv[1]);
  qn::ForceFolder(qn::CoversFolder());
  const std::string fcs = qn::CoversFolder() + "QN0004.FCS";
  {
    covers::TFaxCoverPanel panel;
    panel.setFixedSize(covers::TFaxCoverPanel::kPageWidth, covers::TFaxCoverPanel::kPageHeight);
    if (!covers::LoadObjects(panel, covers::WriteObjectList(BusinessCover()), 0, 0).ok ||
        !covers::SaveTemplate(panel, fcs, "Business fax with importance row").ok)
      return 1;
  }
  qn::IniFile ini(qn::SettingsFile());
  ini.WriteString("CDMRU", "F0", fcs);
  ini.Flush();

  covers::TCoverDesMainScreen designer;
  designer.resize(900, 760);
  designer.move(0, 0);
  designer.show();
  QTimer::singleShot(800, &designer, [&designer] {
    for (auto* o : designer.LabelPanel->Objects())
      if (o->ClassName() == QLatin1String("TFaxCoverField")) {
        designer.LabelPanel->AddToSelection(o);
        break;
      }
  });
  QTimer::singleShot(2000, &designer, [&] {
    const bool ok = designer.grab().save(out);
    QApplication::exit(ok ? 0 : 1);
  });
  return QApplication::exec();
}
