// The launcher's executable: the toolkit's entry point hands over to launcher_app.
#include "launcher/launcher_app.h"

wxIMPLEMENT_APP(launcher_app);
