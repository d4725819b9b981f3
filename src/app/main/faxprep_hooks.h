// Fills the main window's hooks for fax preparation: "&New", "Add C&over", "&Edit"
// on a fax with a cover, "Fax a Docu&ment" (and files dropped or named on the
// command line), the pick-up of printed faxes and the hand-off file written at
// start-up (with the shipped cover templates on the first start).
#pragma once

namespace qn {

void InstallFaxPrepHooks();

}  // namespace qn
