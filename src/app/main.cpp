#include "shell/tavrolin.h"

int main(int argc, char** argv) {
    return tavrolin::Tavrolin::main(argc, argv);
}
