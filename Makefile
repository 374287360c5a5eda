# Front door for the CMake build.
#   make        release build of the library and the programs
#   make test   build, then run every test through ctest
#   make demo   build, make a sample map, report it with tallix and turn it
#               into a KML super-overlay with mosaiq
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
DEMO := $(BUILD)/demo

.PHONY: all build test demo clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	$(BUILD)/examples/make_sample_map $(DEMO)
	@echo
	@echo "tallix report of $(DEMO)/sample.gmf:"
	$(BUILD)/tools/tallix/tallix $(DEMO)/sample.gmf > $(DEMO)/stat.txt
	@cat $(DEMO)/stat.txt
	@echo
	@echo "report written to $(DEMO)/stat.txt"
	@echo
	@echo "mosaiq super-overlay of $(DEMO)/sample.gmf:"
	mkdir -p $(DEMO)/kml
	$(BUILD)/tools/mosaiq/mosaiq $(DEMO)/sample.gmf 255 384 -1 "" "" $(DEMO)/kml $(DEMO)/kml/sample.kml
	@echo
	@echo "root document: $(DEMO)/kml/sample.kml"

clean:
	rm -rf $(BUILD)
