#pragma once

// Lets screen readers read the installer's own views for what they are: the window as a frame
// named by its title, the logo as an image, the text views as read-only text without the scroll
// area's inner parts, and the bar as a progress bar whose value is the percentage. Call once,
// after the application object exists.
void installAccessibility();
