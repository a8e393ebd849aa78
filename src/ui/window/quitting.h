#pragma once

class QGuiApplication;

namespace orvik {
class LibraryStore;
}

namespace orvik::ui {

// However the app ends without the window being asked (the session ends,
// SIGTERM, SIGINT, SIGHUP, the last window closed), the waiting save is written
// first and whatever text cannot be written goes to the store's rescue folder.
// A termination signal ends the event loop without closing the windows: there
// is nobody left to answer a question. Call once, after the store exists.
void keepTextWhenEnding(QGuiApplication& app, LibraryStore& store);

} // namespace orvik::ui
