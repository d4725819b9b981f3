#include "help.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>
#include <climits>

#include "common/folders.h"

namespace qn {
namespace {

QString g_helpFile;

class THelpWindow : public QWidget {
 public:
  THelpWindow() {
    setWindowTitle(QStringLiteral("Quillon Help"));
    setAttribute(Qt::WA_DeleteOnClose);
    browser_ = new QTextBrowser(this);
    browser_->setOpenExternalLinks(true);
    auto* back = new QPushButton(QStringLiteral("&Back"), this);
    auto* contents = new QPushButton(QStringLiteral("&Contents"), this);
    auto* close = new QPushButton(QStringLiteral("&Close"), this);
    connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    back->setEnabled(false);
    connect(contents, &QPushButton::clicked, this, [this] { browser_->setSource(QUrl::fromLocalFile(contentsPage_)); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back);
    buttons->addWidget(contents);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser_);
    layout->addLayout(buttons);
    resize(620, 480);
  }

  void Show(const QString& page, const QString& contentsPage) {
    contentsPage_ = contentsPage;
    browser_->clearHistory();
    browser_->setSource(QUrl::fromLocalFile(page));
    show();
    raise();
    activateWindow();
  }

 private:
  QTextBrowser* browser_;
  QString contentsPage_;
};

QPointer<THelpWindow> g_window;

// "…/QN.hlp" -> "qn", "…/FaxPS.HLP" -> "faxps".
QString HelpSetName() {
  const QString file = g_helpFile.isEmpty() ? QStringLiteral("QN.hlp") : g_helpFile;
  return QFileInfo(file).completeBaseName().toLower();
}

}  // namespace

QString HelpFolder() { return QString::fromStdString(DataFolder()) + QStringLiteral("help"); }

QString ApplicationHelpFile() { return g_helpFile; }
void SetApplicationHelpFile(const QString& path) { g_helpFile = path; }

QString HelpTopicPage(int topic) {
  const QDir dir(HelpFolder() + QLatin1Char('/') + HelpSetName());
  const QString page = dir.filePath(QString::number(topic) + QStringLiteral(".html"));
  return QFileInfo::exists(page) ? page : dir.filePath(QStringLiteral("missing.html"));
}

void ShowHelpTopic(int topic) {
  if (!g_window) g_window = new THelpWindow;
  const QString contents = HelpTopicPage(HelpSetName() == QLatin1String("qn") ? 1009 : 1);
  g_window->Show(HelpTopicPage(topic), contents);
}

void ShowProblemSolver() {
  const QString remembered = g_helpFile;
  g_helpFile = QString::fromStdString(ProgramFolder()) + QStringLiteral("FaxPS.HLP");
  ShowHelpTopic(1);
  g_helpFile = remembered;
}

QString ProblemSolverErrorPage(int code) {
  if (code == 0 || code == INT_MIN) return {};
  const QString page = HelpFolder() + QStringLiteral("/faxps/error") + QString::number(code < 0 ? -code : code) +
                       QStringLiteral(".html");
  return QFileInfo::exists(page) ? page : QString();
}

void ShowProblemSolverForError(int code) {
  const QString page = ProblemSolverErrorPage(code);
  if (page.isEmpty()) {
    ShowProblemSolver();
    return;
  }
  if (!g_window) g_window = new THelpWindow;
  g_window->Show(page, QFileInfo(page).dir().filePath(QStringLiteral("1.html")));
}

QWidget* HelpWindow() { return g_window.data(); }

}  // namespace qn
