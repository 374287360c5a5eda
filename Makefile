# Front door for the CMake build.
#   make        release build of the library and the programs
#   make test   build, then run every test through ctest
#   make demo   build, make a sample map, pack it with gmfkit, report it with
#               tallix, turn it into a KML super-overlay with mosaiq and
#               write its tile footprints as GeoJSON with gmfkit
#   make test-sanitize   every test again, built with AddressSanitizer and
#                        UndefinedBehaviorSanitizer, in build-sanitize/
#   make bench  benchmarks against tar and a floor program (bench/RESULTS.md)
#   make fuzz [FUZZ_SECONDS=600] [FUZZ_TARGETS="gmf_read ..."]
#                        runs each libFuzzer target (needs clang and
#                        libclang-rt-14-dev), in build-fuzz/
MAKEFLAGS += --no-print-directory
BUILD ?= build
SAN_BUILD ?= build-sanitize
SAN_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= gmf_read kal_record kal_list ovl mosaiq_run
FUZZ_FLAGS := -g -O1 -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
DEMO := $(BUILD)/demo

.PHONY: all build test test-sanitize fuzz bench demo clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

$(SAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_FLAGS="$(SAN_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(SAN_FLAGS)"

test-sanitize: $(SAN_BUILD)/CMakeCache.txt
	cmake --build $(SAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

bench: build
	bench/run.sh $(BUILD)

fuzz:
	@command -v clang++ >/dev/null || { echo "make fuzz needs clang: apt-get install clang libclang-rt-14-dev"; exit 1; }
	cmake -S . -B $(FUZZ_BUILD) -DGMF_FUZZ=ON -DCMAKE_BUILD_TYPE=None \
	  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$(FUZZ_FLAGS)"
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

demo: build
	rm -rf $(DEMO)
	$(BUILD)/examples/make_sample_map $(DEMO)
	@echo
	@echo "gmfkit pack: $(DEMO)/sample.kal and $(DEMO)/tiles into $(DEMO)/sample.gmf"
	$(BUILD)/tools/gmfkit/gmfkit pack $(DEMO)/sample.kal $(DEMO)/tiles $(DEMO)/sample.gmf
	@echo
	@echo "tallix report of $(DEMO)/sample.gmf:"
	$(BUILD)/tools/tallix/tallix $(DEMO)/sample.gmf > $(DEMO)/stat.txt
	@cat $(DEMO)/stat.txt
	@echo
	@echo "mosaiq super-overlay of $(DEMO)/sample.gmf:"
	mkdir -p $(DEMO)/kml
	$(BUILD)/tools/mosaiq/mosaiq $(DEMO)/sample.gmf 255 384 -1 "" "" $(DEMO)/kml $(DEMO)/kml/sample.kml
	@echo
	@echo "gmfkit footprints of $(DEMO)/sample.gmf:"
	$(BUILD)/tools/gmfkit/gmfkit footprints $(DEMO)/sample.gmf $(DEMO)/kml/sample.geojson
	@echo
	@echo "GMF file:        $(DEMO)/sample.gmf (from $(DEMO)/sample.kal and $(DEMO)/tiles/)"
	@echo "tallix report:   $(DEMO)/stat.txt"
	@echo "root document:   $(DEMO)/kml/sample.kml (tile images and documents beside it)"
	@echo "footprints:      $(DEMO)/kml/sample.geojson"

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD)
