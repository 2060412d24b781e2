// Loads a speech acoustic model with a dictionary and exits 0 when it loads, 3 when it does not.
// Some damaged model files make the speech library end the whole process instead of failing, so
// the program checks a model in this separate, freshly started process before loading it.
// usage: tavrolin-speech-model-check ACOUSTIC_MODEL_FOLDER DICTIONARY
#include <pocketsphinx.h>
#include <sphinxbase/err.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    // The library's log off for the whole run; a log file named per load would switch it back on.
    err_set_logfp(nullptr);
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", argv[1], "-dict", argv[2], nullptr);
    if (config == nullptr) {
        return 3;
    }
    ps_decoder_t* decoder = ps_init(config);
    const int status = decoder != nullptr ? 0 : 3;
    if (decoder != nullptr) {
        ps_free(decoder);
    }
    cmd_ln_free_r(config);
    return status;
}
