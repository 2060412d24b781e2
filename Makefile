# The two commands of the README. Each does all its own set-up on a fresh Debian 12 machine.
# `make test` builds with sanitizers in $(BUILD_DIR); `make run`, `make bench` and `make install`
# use the optimised build in $(RUN_BUILD_DIR), the program as its users get it.
BUILD_DIR ?= build
RUN_BUILD_DIR ?= build-release
PREFIX ?= /usr/local
DESTDIR ?=
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Debug -DTAVROLIN_SANITIZE=ON
RUN_CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVROLIN_SANITIZE=OFF
ifdef CI
CMAKE_FLAGS += -DTAVROLIN_WERROR=ON
RUN_CMAKE_FLAGS += -DTAVROLIN_WERROR=ON
endif

FUZZ_BUILD_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVROLIN_SANITIZE=ON -DTAVROLIN_FUZZ=ON \
	-DTAVROLIN_BUILD_TESTS=OFF -DTAVROLIN_BUILD_BENCH=OFF

.PHONY: deps configure build release test run bench fuzz format format-check install uninstall clean

deps:
	@scripts/install-deps.sh

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) -DTAVROLIN_RELEASE_BUILD_DIR=$(abspath $(RUN_BUILD_DIR))

configure: deps $(BUILD_DIR)/build.ninja

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Configured every time, so that a new PREFIX reaches the launch-at-login check.
release: deps
	cmake -S . -B $(RUN_BUILD_DIR) -G Ninja $(RUN_CMAKE_FLAGS) -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(RUN_BUILD_DIR) -j $(JOBS) --target tavrolin

# Programs only the desktop tests drive (the browsers people write in, a reader of the clipboard
# as clipboard managers read it, strace, which watches which files the installed program
# touches, terminals known by neither name nor accessibility, gvim, whose keys mean other things,
# gnome-text-editor, a GTK 4 program with real dialogs, and LibreOffice (Calc, Writer and Impress)
# with its GTK 3 front end, whose cells, paragraphs, tables and text boxes each answer in a way of
# their own, AbiWord and Gnumeric, read by keystrokes, CopyQ, the clipboard manager they are
# read beside, and Thunderbird, Gecko's mail program, whose focus events differ from Firefox's);
# `make run` never installs them.
TEST_ONLY_PACKAGES ?= firefox-esr chromium xclip strace mlterm pterm vim-gtk3 gnome-text-editor libreoffice-calc \
	libreoffice-writer libreoffice-impress libreoffice-gtk3 abiword gnumeric copyq tabbed python3-tk idle-python3.11 \
	thunderbird

test: build release
	@scripts/install-deps.sh $(TEST_ONLY_PACKAGES)
	scripts/desktop-session.sh ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) --timeout 600

run: release
	TAVROLIN_EXECUTABLE=$(abspath $(RUN_BUILD_DIR))/src/app/tavrolin scripts/run.sh

# CopyQ, the tray utility bench_startup measures Tavrolin against, gnome-text-editor, the GTK 4
# editor bench_gtk4_editor runs the field commands in, Firefox ESR, whose page
# bench_write_message writes into, and LibreOffice Writer (with Calc, whose sheet is open beside
# it), whose paragraphs bench_writer_paragraph writes into; only `make bench` installs them.
BENCH_ONLY_PACKAGES ?= copyq gnome-text-editor firefox-esr libreoffice-writer libreoffice-calc libreoffice-gtk3

bench: release
	@scripts/install-deps.sh $(BENCH_ONLY_PACKAGES)
	cmake --build $(RUN_BUILD_DIR) -j $(JOBS) --target benchmarks
	@for b in $(RUN_BUILD_DIR)/bench/bench_*; do if [ -f "$$b" ] && [ -x "$$b" ]; then scripts/desktop-session.sh "$$b"; fi; done

# Every fuzz target under libFuzzer (clang, address and undefined-behaviour sanitizers) for
# FUZZ_SECONDS each. New inputs collect in $(FUZZ_BUILD_DIR)/corpus/<target>, failing ones in
# $(FUZZ_BUILD_DIR)/artifacts/; the starting inputs in tests/fuzz/corpus/ are only read.
fuzz: deps
	@scripts/install-deps.sh clang libclang-rt-14-dev libfuzzer-14-dev
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD_DIR) -G Ninja $(FUZZ_CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS) --target fuzz_targets
	@scripts/run-fuzz-targets.sh $(FUZZ_BUILD_DIR) $(FUZZ_SECONDS)

# The source style of .clang-format: `make format` rewrites the files in place, `make format-check`
# lists every difference and fails when there is one.
FORMAT_FILES = $(shell find src tests bench \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) | sort)

format:
	@scripts/install-deps.sh clang-format
	@echo "clang-format -i: $(words $(FORMAT_FILES)) files"
	@clang-format -i $(FORMAT_FILES)

format-check:
	@scripts/install-deps.sh clang-format
	@echo "clang-format --dry-run -Werror: $(words $(FORMAT_FILES)) files"
	@clang-format --dry-run -Werror $(FORMAT_FILES)

install: release
	DESTDIR="$(DESTDIR)" cmake --install $(RUN_BUILD_DIR)

uninstall:
	@[ -f $(RUN_BUILD_DIR)/install_manifest.txt ] || { echo "Nothing was installed from $(RUN_BUILD_DIR)."; exit 1; }
	sed 's|^|$(DESTDIR)|' $(RUN_BUILD_DIR)/install_manifest.txt | xargs -d '\n' rm -fv

clean:
	rm -rf $(BUILD_DIR) $(RUN_BUILD_DIR) $(FUZZ_BUILD_DIR)
