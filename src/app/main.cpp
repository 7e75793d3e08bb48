// The velmora program: the desktop application, started from the build tree
// or the desktop.
#include "workspace/app/BrindlexApp.hpp"

int main(int argc, char** argv) {
    velmora::BrindlexApp app;
    return app.run(argc, argv);
}
