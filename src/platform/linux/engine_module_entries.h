#pragma once

// The function each engine module exports, declared once for the module that defines it and the
// back end that opens it. A module and the program come from one build: the loader opens only a
// module sealed with the program's own build identity (engine_module.h), so an entry is never
// called by a program built against another version of it.
// Each entry answers an object made with `new`, owned by the caller from then on.

#include "platform/audio_input.h"

#include <QString>
#include <QStringList>

namespace tavrolin {
class HttpClient;
struct HttpClientOptions;
class SpeechDecoder;
class TextRecognitionEngine;
class ZipArchiveWriter;
struct PocketSphinxModelFiles;

// What the audio module records: the sound server converts whatever the device delivers.
inline constexpr AudioInputFormat soundServerRecordingFormat{16000, 1};
}  // namespace tavrolin

extern "C" {

// libtavrolin-ocr.so (Tesseract): the engine with the system's language data.
tavrolin::TextRecognitionEngine* tavrolin_ocr_make_engine();

// libtavrolin-speech.so (PocketSphinx): a decoder of the model files, or null with the reason in
// `error`.
tavrolin::SpeechDecoder* tavrolin_speech_load_decoder(const tavrolin::PocketSphinxModelFiles& files,
                                                      const QStringList& extraOptions, QString& error);

// libtavrolin-audio.so (PulseAudio): a source on the sound server's default input.
tavrolin::AudioInputSource* tavrolin_audio_make_input_source();

// libtavrolin-zip.so (libzip): a zip archive writer.
tavrolin::ZipArchiveWriter* tavrolin_zip_make_writer();

// libtavrolin-http.so (libcurl): an HTTP client with a connection cache of its own, driven by the
// event loop of the calling thread, to which it belongs. Opening the module initialises libcurl.
// tavrolin_http_prepare loads the certificates the clients made with `options` trust (the
// system's: some hundred certificates), once per process: call it off the GUI thread before
// making the client, which otherwise loads them itself.
void tavrolin_http_prepare(const tavrolin::HttpClientOptions& options);
tavrolin::HttpClient* tavrolin_http_make_client(const tavrolin::HttpClientOptions& options);

}  // extern "C"
