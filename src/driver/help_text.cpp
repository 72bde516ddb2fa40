#include "driver/help_text.h"

#include "platform/host.h"

namespace corvane::driver {

// The text is printed unchanged, whatever options the program accepts; the blanks at the
// ends of some lines belong to it.
const char* const kHelpText[] = {
    "",
    "Lumoria BIOS Configuration Utiltiy",
    "Copyright (C) 2026 Lumoria Corporation. All rights reserved.",
    "",
    "Usage:",
    "",
    "  Corvane.EXE {options}",
    "",
    "    where the valid options are:",
    "",
    "     /GetConfig:\"filename\" - Gets the configuration data.",
    "     /SetConfig:\"filename\" - Modify the system BIOS configuration.",
    "                           - Accepts only RESPET formatted files.",
    "     /Format:REPSET\t\t- Specifies the GETCONFIG output format.",
    "                           - /FORMAT:REPSET is the default.",
    "     /? or /Help           - Display this help message.",
    "     /cspwd:\"pwd\" or",
    "     /CurSetupPassword:\"pwd\" - Current BIOS Setup Password.",
    "                             - Provide only if needed for /SETCONFIG",
    "                               or if changing the password with",
    "                               /NewSetupPassword",
    "                             - Can specify multiple current passwords.",
    "     /nspwd:\"pwd\" or",
    "     /NewSetupPassword:\"pwd\" - New BIOS Setup Password.",
    "                             - Used to modify the password.",
    "                             - To remove the password use /NewSetupPassword:\"\"",
    "",
    "     NOTE: BIOS passwords are converted from ASCII to English keyboard",
    "           scan codes.  If a character does not map directly to a scan ",
    "           code, the password is ignored.",
    "",
    "     Valid 'characters' are mapped to keyboard keys as follows: ",
    "",
    "` 1 2 3 4 5 6 7 8 9 0 - = ",
    "   q w e r t y u i o p [ ] \\  <KEYPAD 7>  <KEYPAD 8> <KEYPAD 9> <KEYPAD *> ",
    "    a s d f g h j k l ; '     <KEYPAD 4>  <KEYPAD 5> <KEYPAD 6> <KEYPAD -> ",
    "     z x c v b n m , .        <KEYPAD 1>  <KEYPAD 2> <KEYPAD 3> <KEYPAD +>",
    "        <SPACE BAR>           <KEYPAD 0>             <KEYPAD .> ",
    "",
    "",
    "     Valid 'SHIFT+characters' are mapped to keyboard keys as follows: ",
    "",
    "~ ! @ # $ % ^ & * ( ) _ +     ",
    "   Q W E R T Y U I O P { } |  ",
    "    A S D F G H J K L ; '     ",
    "     Z X C V B N M <LT> <GT>  ",
    "",
    nullptr,
};

// The usage text is no record: it goes to standard output on its own, before the translation
// record.
void WriteHelpText() {
  platform::Host& host = platform::Os();
  for (const char* const* line = kHelpText; *line != nullptr; ++line) {
    host.WriteOut(*line);
    host.WriteOut("\n");
    host.FlushOut();
  }
}

}  // namespace corvane::driver
