// Placeholder main; replaced by the driver.
#include <iostream>
#include "pellion_audio_embedder.h"
int main() {
    std::cout << "Pellion Embedding SDK version:" << Corvida::GetVersion() << std::endl;
    return 0;
}
