// The help window: HTML pages in the help folder of the program's data (data/help
// in the sources, <datadir>/quillon/help installed), one per topic number, in one
// folder per help file ("qn" for the program's help, "faxps" for the problem solver).
#pragma once

#include <QString>

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

}  // namespace qn
