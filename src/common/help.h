// The help window: HTML pages in the help folder of the program's data (data/help
// in the sources, <datadir>/quillon/help installed), one per topic number, in one
// folder per help file ("qn" for the program's help, "faxps" for the problem solver).
//
// The help window stays usable beside a modal dialog: while a modal window is
// open the help window is a separate window owned by the topmost one (so that
// dialog's modality does not block it, while the windows under the dialog stay
// blocked); when that dialog goes, the help window moves to the next modal window
// or becomes a top-level window of its own. Escape closes it.
//
// F1 opens the topic of the window that has the focus: a window names its topic
// with SetHelpTopic (windows with a Help button name the topic that button shows);
// a window without one gets the contents.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace qn {

// The folder holding the help files' page folders (DataFolder() + "help").
QString HelpFolder();
// The application help file (program folder + "QN.hlp" once start-up set it).
QString ApplicationHelpFile();
void SetApplicationHelpFile(const QString& path);
// The page shown for a topic of the current help file.
QString HelpTopicPage(int topic);
// Opens (or raises) the help window on a topic of the current help file.
void ShowHelpTopic(int topic);
// Opens topic 1 of the problem-solver help, then puts the application help file back.
void ShowProblemSolver();
// The problem solver's page about an error code ("error" + code + ".html" beside
// its topics; the code as returned or its absolute value), or an empty string when
// the code has no page of its own.
QString ProblemSolverErrorPage(int code);
// Opens the problem solver on the page of an error code; a code without a page
// (or 0) opens its contents (topic 1).
void ShowProblemSolverForError(int code);
// The help window while it exists (for tests and for closing it with the program).
QWidget* HelpWindow();

// The topic of a window, for F1 and its Help button. The function form serves
// windows whose topic depends on what they show (the page of a wizard). Setting
// a topic also switches F1 on for the whole program.
void SetHelpTopic(QWidget* window, int topic);
void SetHelpTopic(QWidget* window, std::function<int()> topic);
// The topic named by the widget or the nearest of its parents; 0 when none does.
int HelpTopicOf(const QWidget* widget);
// Shows the topic of the widget's window (the contents when it names none).
void ShowHelpFor(const QWidget* widget);
// Makes F1 open help everywhere in the program (done by SetHelpTopic too).
void InstallHelpKey();

// The topic of the help's contents page.
inline constexpr int kHelpContentsTopic = 1009;

}  // namespace qn
