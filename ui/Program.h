// The program's run: shows the main window and runs the message loop until
// the window closes, by the operator or from outside.
#pragma once

class TForm1;

// Returns the message loop's exit code.
int RunProgram(TForm1& form1);
