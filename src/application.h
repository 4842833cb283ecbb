#pragma once

// Settings of the whole process that every window relies on: the
// application's icon, version and desktop id, and how large a picture the
// image readers may decode. Call once, after the application object exists.
void setUpApplication();
