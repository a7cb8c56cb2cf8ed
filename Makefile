# make demo        build the installer around the sample payload and run it under Wine
# make test        run every test: native, Windows under Wine, end to end
# make installer PAYLOAD_DIR=<dir> [VERSION=<major>.<minor>.<micro>_<update>]
#                  [OUT=<file.exe>] [STRICT=1]
#                  [SIGN_CERT=<cert.pem> SIGN_KEY=<key.pem> [SIGN_CA=<ca.pem>]]
#                  build the installer around your own package and cabinets
#                  (VERSION: the kit's version, by default the one in
#                  cmake/Profile.cmake; every name follows from it there)
#                  (STRICT=1: a finding of the payload check fails the build)
#                  (SIGN_CERT/SIGN_KEY: signed with SHA-256 at SOURCE_DATE_EPOCH, verified)
# make inspect EXE=<file.exe> [CA=<ca.pem>]
#                  what a built installer carries: payload, version, manifest,
#                  signature (verified against CA, else the system's trust store),
#                  and the payload check on what it carries
# make extract EXE=<file.exe> OUT=<dir> [FORCE=1]
#                  write its package and cabinets into OUT under their staged
#                  names, without running it; prints the VERSION to rebuild with
#                  (FORCE=1: replace files already there)
# make windows-tests
#                  the Windows test bundle, for a disposable Windows machine
#                  or VM: build/test/win/windows-tests and its zip
#                  (tests/bundle/README.txt says how to run it)
# make bench       start-up, staging and time to installed, pair by pair against
#                  floors and a peer installer; size and memory
# make fuzz [FUZZ_EXECS=<n>]
#                  every fuzz target for 10 million inputs (or n); executions
#                  and coverage per target
SHELL := /bin/bash
JOBS ?= $(shell nproc)
# Most Wine tests wait on Wine rather than compute: run more of them at once.
TEST_JOBS ?= 4
# Inputs per target in `make fuzz`.
FUZZ_EXECS ?= 10000000
# The folder make was started from (PWD is not updated by make -C), so that
# relative PAYLOAD_DIR and OUT values mean what the caller typed.
INVOKING_DIR := $(or $(PWD),$(CURDIR))

.PHONY: all deps test windows-tests demo installer inspect extract bench fuzz clean

all: test

deps:
	@tools/install-deps.sh

test: deps
	cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build build/test -j $(JOBS)
	@# The last test tears the Wine test bed down; the trap does it too when
	@# the run is interrupted before that.
	trap 'tests/wine/fixture.sh cleanup build/test/wine-state' EXIT; \
	ctest --test-dir build/test --output-on-failure -j $(TEST_JOBS)

windows-tests: deps
	cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build build/test -j $(JOBS) --target windows
	cmake --build build/test/win --target windows_bundle_zip
	@echo "bundle: build/test/win/windows-tests, zip: build/test/win/windows-tests.zip"

# VERSION, EXE, CA and OUT reach the scripts through the environment, where
# make puts the variables of its command line, so that any value arrives as
# typed (an empty VERSION too, which is refused).
installer: deps
	@STRICT="$(STRICT)" SIGN_CERT="$(SIGN_CERT)" SIGN_KEY="$(SIGN_KEY)" SIGN_CA="$(SIGN_CA)" SOURCE_DATE_EPOCH="$(SOURCE_DATE_EPOCH)" \
		tools/build-installer.sh "$(INVOKING_DIR)" "$(PAYLOAD_DIR)" "$(OUT)"

inspect: deps
	@cd "$(INVOKING_DIR)" && /usr/bin/python3 "$(CURDIR)/tools/installer_image.py" inspect "$${EXE-}" \
		$${CA:+--ca "$$CA"}

extract: deps
	@cd "$(INVOKING_DIR)" && /usr/bin/python3 "$(CURDIR)/tools/installer_image.py" extract "$${EXE-}" "$${OUT-}" \
		$(if $(filter 1,$(FORCE)),--force)

demo: deps
	@tools/demo.sh

bench: deps
	@bench/bench.sh

# One target per tests/fuzz/<target>_fuzz.cpp, as cmake/Host.cmake finds them.
FUZZ_TARGETS := $(patsubst tests/fuzz/%_fuzz.cpp,%,$(wildcard tests/fuzz/*_fuzz.cpp))

fuzz: deps
	cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build build/test -j $(JOBS) --target $(addsuffix _fuzz,$(FUZZ_TARGETS))
	FUZZ_EXECS=$(FUZZ_EXECS) tests/fuzz/long.sh build/test $(FUZZ_TARGETS)

clean:
	rm -rf build
