#pragma once

// Tells screen readers what the drawn controls are: a TLabel speaks as static
// text, a TImage as a picture, each by its accessible name. Installs once per
// process; the controls call it from their constructors.
void InstallAccessibleRoles();
