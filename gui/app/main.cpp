// Quellar: compare and process the tables of Excel workbooks in one window.

#include "app/CQuellarApp.h"

int main(int argc, char** argv) {
    quellar::CQuellarApp app(argc, argv);
    return app.run();
}
