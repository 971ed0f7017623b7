# Velmora: the two commands a newcomer needs are `make demo` and `make test`.
# Every target installs what is missing first (Debian packages through apt-get).

BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
TSAN_DIR  ?= build-tsan
JOBS      ?= $(shell nproc)
PREFIX    ?= /usr/local

.PHONY: all deps build test test-release test-asan test-tsan demo bench format clean install package

all: build

deps:
	./scripts/deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Every test: the release build, then the AddressSanitizer and
# UndefinedBehaviorSanitizer build, then the ThreadSanitizer build of the
# suites that run threads.
test: build
	./scripts/test.sh $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR)

test-release: build
	./scripts/test.sh --only release $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR)

test-asan: deps
	./scripts/test.sh --only asan $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR)

test-tsan: deps
	./scripts/test.sh --only tsan $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR)

demo: build
	$(BUILD_DIR)/bin/velmora demo

bench: build
	./scripts/bench.sh $(BUILD_DIR)

# Installs the library, headers, program, man page, bash completion, CMake
# package and pkg-config file under PREFIX (DESTDIR stages them elsewhere).
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

# The Debian package, $(BUILD_DIR)/velmora_VERSION_amd64.deb.
package: build
	cd $(BUILD_DIR) && cpack -G DEB

format:
	find velmora apps tests bench examples -name '*.h' -o -name '*.cpp' \
	  | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR)
