#include "app/BrindleafBarApp.hpp"

int main(int argc, char** argv) { return brindleaf::BrindleafBarApp::main(argc, argv); }
