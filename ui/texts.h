// What the installer's own windows say: box texts and titles, the destination dialog's
// caption, the window class. They are the release's own and are kept exactly, oddities
// included: "sucessfully" is spelled so in both success boxes, the titles name the group three
// ways ("Korvane", "Korvane 98", "Korvane 1998"), and the destination dialog speaks of
// "X-Tract" in its box and "X-Traction" in its caption. The GUI tests read them back.
#pragma once

namespace korvane::ui::texts {

inline constexpr char kInstallDone[] = "The X-Traction has been sucessfully completed!";
inline constexpr char kTestDone[] =
    "The file TEST has been sucessfully completed!\nYou can sucessfully install this product!";
inline constexpr char kInstallFailed[] = "The X-Traction has failed!";
inline constexpr char kTestFailed[] = "The file TEST has failed!";
inline constexpr char kOutcomeTitle[] = "Korvane 98";
inline constexpr char kInstallAborted[] = "Installation was aborted...";
inline constexpr char kTestAborted[] = "File TEST was aborted...";
inline constexpr char kAbortTitle[] = "Korvane 1998";
// Not one of the original boxes: after an install that failed or was aborted, the user may take
// back everything it did. Yes removes what it made and puts back what it replaced.
inline constexpr char kUndoInstall[] =
    "Undo the X-Traction?\nYes removes the files it installed and puts back the files it replaced.";
inline constexpr char kUndoIncomplete[] = "The X-Traction could not be undone completely!";
// Before an install whose files do not fit at the destination; filled in with the megabytes
// needed, the megabytes free and the destination.
inline constexpr char kNoSpace[] = "The files need %llu MB, but only %llu MB are free at:\n%s\n\nInstall anyway?";
inline constexpr char kNoSpaceTitle[] = "Korvane 98";
inline constexpr char kNoThread[] = "Yer machine is pretty cooked!\nCannot create x-traction thread.";
inline constexpr char kNoThreadTitle[] = "Korvane";
inline constexpr char kNoNfo[] = "You are missing the KORVANE.NFO file!";
inline constexpr char kCreateDirectory[] = "The directory:\n%s\ndoes not exist.\nDo you wish to create it?";
inline constexpr char kCreateDirectoryTitle[] = "Select X-Tract Directory";
inline constexpr char kDestinationCaption[] = "Select X-Traction Destination:";
inline constexpr char kWindowClass[] = "KORVANE_98";

}  // namespace korvane::ui::texts
