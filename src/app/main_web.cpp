// The browser program: the page starts it after its one click (web/quimbles.html) on a worker thread, with the data
// files already in its file system; it runs the show to its end, and the page says how it ended.

#include "app/entry.h"

int main() {
    return RunShow();
}
