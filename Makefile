# Thin wrapper around CMake. `make run` and `make test` are the two set-up commands.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
WINE ?= /usr/lib/wine/wine64

.PHONY: all run test windows test-windows test-asan fuzz fuzz-smoke bench clean install package \
  package-deb package-windows test-package

# What each kind of build needs from Debian; tools/need-packages installs what is missing.
# libpff-dev reads Outlook data files; its header includes libbfio.h, which
# libbfio-dev has and libpff-dev does not pull in; pkg-config finds the library.
BUILD_PACKAGES = cmake g++ make libssl-dev libpff-dev libbfio-dev pkg-config
# The split-run test drives GNU parallel (parallel); the Outlook tests compare with
# pffexport (pff-tools) and readpst (pst-utils).
TEST_PACKAGES = $(BUILD_PACKAGES) libgtest-dev groff-base parallel python3 jq pff-tools pst-utils
# The Windows build renders the manual page as HTML with mandoc; its tests run
# under wine. Its libpff is built from Debian's source package (apt-get source,
# unpacked by dpkg-source of dpkg-dev) by tools/windows-libpff.
WINDOWS_BUILD_PACKAGES = cmake make g++-mingw-w64-x86-64 mandoc dpkg-dev
# Where tools/windows-libpff puts the Windows build of libpff; kept across builds.
WINDOWS_LIBPFF = build-windows/libpff
WINDOWS_PACKAGES = $(TEST_PACKAGES) $(WINDOWS_BUILD_PACKAGES) wine64
FUZZ_PACKAGES = cmake make clang libclang-rt-14-dev libssl-dev libpff-dev libbfio-dev pkg-config
# CPack's Debian generator runs dpkg-shlibdeps (dpkg-dev), which needs file.
DEB_PACKAGES = $(BUILD_PACKAGES) dpkg-dev file
# The package test lists the zip with unzip and judges the .deb with lintian and
# hardening-check (devscripts).
PACKAGE_TEST_PACKAGES = $(TEST_PACKAGES) unzip lintian devscripts

# Packages carry the commit's time as their build stamp and file times, unless
# SOURCE_DATE_EPOCH is set already, so that two builds of one commit agree.
SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null)
ifneq ($(strip $(SOURCE_DATE_EPOCH)),)
package package-deb package-windows test-package: export SOURCE_DATE_EPOCH := $(SOURCE_DATE_EPOCH)
endif

all:
	tools/need-packages $(BUILD_PACKAGES)
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DMAILSIFT_TESTS=OFF
	cmake --build build -j $(JOBS) --target mailsift mailsift_documents

run: all
	./build/mailsift -.ini -p samples

# The program, its manual page and its documents below PREFIX; DESTDIR stages them.
PREFIX ?= /usr/local
install: all
	DESTDIR="$(DESTDIR)" cmake --install build --prefix "$(PREFIX)"

# A Debian package of the Linux build in build/ and a zip of the Windows build in
# build-windows/; each needs only its own build's packages.
package: package-deb package-windows

package-deb: all
	tools/need-packages $(DEB_PACKAGES)
	cd build && cpack -G DEB

package-windows:
	tools/need-packages $(WINDOWS_BUILD_PACKAGES)
	JOBS=$(JOBS) tools/windows-libpff $(WINDOWS_LIBPFF)
	cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DMAILSIFT_WERROR=ON -DMAILSIFT_TESTS=OFF
	cmake --build build-windows -j $(JOBS) --target mailsift mailsift_documents
	cd build-windows && cpack -G ZIP

# Builds both packages, builds them again from a copy of this tree in another
# directory (printing the sha256 of both builds' files), then checks the .deb (lintian, hardening, installed into a scratch
# root and run on the samples, the split run), the zip and that the two builds
# agree byte for byte.
test-package: package
	tools/need-packages $(PACKAGE_TEST_PACKAGES)
	cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMAILSIFT_WERROR=ON
	cmake --build build-test -j $(JOBS) --target mailsift_e2e_tests
	deb="$$(ls -t $(CURDIR)/build/mailsift_*.deb | head -n 1)" && \
	  zip="$$(ls -t $(CURDIR)/build-windows/mailsift-*.zip | head -n 1)" && \
	  again=$$(mktemp -d) && dpkg-deb -x "$$deb" "$$again/unpacked" && \
	  tools/build-elsewhere "$$again" JOBS=$(JOBS) && \
	  sha256sum build/mailsift build-windows/mailsift.exe "$$deb" "$$zip" && \
	  (cd "$$again/mailsift" && sha256sum build/mailsift build-windows/mailsift.exe \
	    build/$$(basename "$$deb") build-windows/$$(basename "$$zip")) && \
	  cd build-test && MAILSIFT_DEB="$$deb" MAILSIFT_ZIP="$$zip" MAILSIFT_REBUILT="$$again" \
	  MAILSIFT_SPLIT_RUN="$$again/unpacked/usr/bin/mailsift-parallel" \
	  ctest --output-on-failure -R '^(debian_package|windows_package|package_rebuild|split_run)\.'; \
	  status=$$?; rm -rf "$$again"; exit $$status

test:
	tools/need-packages $(TEST_PACKAGES)
	cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMAILSIFT_WERROR=ON
	cmake --build build-test -j $(JOBS)
	cd build-test && ctest --output-on-failure -j $(JOBS)

windows:
	tools/need-packages $(WINDOWS_PACKAGES)
	JOBS=$(JOBS) tools/windows-libpff $(WINDOWS_LIBPFF)
	cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DMAILSIFT_WERROR=ON -DMAILSIFT_TESTS=ON
	cmake --build build-windows -j $(JOBS) --target mailsift mailsift_documents

# The native build (all) is what the Windows build's decoded records are compared with.
test-windows: windows all
	cmake --build build-windows -j $(JOBS)
	cd build-windows && WINEDEBUG=-all WINEPREFIX=$(CURDIR)/build-windows/wineprefix \
	  ctest --output-on-failure

test-asan:
	tools/need-packages $(TEST_PACKAGES)
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DMAILSIFT_WERROR=ON -DMAILSIFT_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

# libFuzzer targets (clang); fuzz-smoke runs each for FUZZ_SECONDS.
FUZZ_SECONDS ?= 30
fuzz:
	tools/need-packages $(FUZZ_PACKAGES)
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DMAILSIFT_FUZZ=ON -DMAILSIFT_TESTS=OFF
	cmake --build build-fuzz -j $(JOBS)

fuzz-smoke: fuzz
	fuzz/run_fuzz.sh build-fuzz $(FUZZ_SECONDS)

# Scale benchmark: a full run against one process that only reads the same bytes,
# grep and rg, on a warm page cache and, run as root, a cold one (dropped before
# each timed run). BENCH_MAILSIFT_ARGS adds options to the full runs.
# The benchmarks need python3, GNU time, Google Benchmark, rg (ripgrep) as a
# threaded reference and readpst (pst-utils), which the Outlook row compares with.
BENCH_PACKAGES = python3 time libbenchmark-dev libssl-dev libpff-dev libbfio-dev pkg-config ripgrep \
  pst-utils
# Then the mailbox row, the Outlook row (bench-pst) and the header scan alone (bench-scan).
bench:
	tools/need-packages $(BENCH_PACKAGES)
	python3 bench/run_bench.py
	python3 bench/run_bench.py --scale
	python3 bench/run_bench.py --mbox
	python3 bench/run_bench.py --pst
	$(MAKE) bench-scan

clean:
	rm -rf build build-test build-windows build-asan build-fuzz build-bench build-bench-scan

# The header scan alone, on messages in memory (Google Benchmark); the corpus
# benchmark reads every message of BENCH_CORPUS.
BENCH_CORPUS ?= $(firstword $(wildcard ../shared/corpus) samples)
.PHONY: bench-scan bench-memory bench-mbox bench-scale bench-pst
bench-scan:
	tools/need-packages $(BENCH_PACKAGES)
	cmake -S . -B build-bench-scan -DCMAKE_BUILD_TYPE=Release -DMAILSIFT_TESTS=OFF -DMAILSIFT_BENCH=ON
	cmake --build build-bench-scan -j $(JOBS) --target mailsift_benchmarks
	MAILSIFT_BENCH_CORPUS=$(BENCH_CORPUS) ./build-bench-scan/mailsift_benchmarks

# The cost per file and peak memory at 40,000 and 400,000 files (BENCH_SCALE_FILES),
# warm and cold, with the listing to a file and to standard output.
bench-scale:
	tools/need-packages $(BENCH_PACKAGES)
	python3 bench/run_bench.py --scale

# Peak resident memory on one large generated mbox (BENCH_BIG_MB, 2048 by default),
# then of --PST on the largest shared Outlook file, on the Outlook collection and on
# one PST that bench/make_pst.py writes from ../shared/corpus (BENCH_PST_BIG_MB,
# 1024 by default; kept in BENCH_DIR for the next run), and of readpst on the
# largest shared file and on the generated one.
bench-memory:
	tools/need-packages $(BENCH_PACKAGES)
	python3 bench/run_bench.py --memory

# One mboxrd mailbox (BENCH_BIG_MB, 2048 by default): --MBOX against the same file
# as one record and the read floor, warm and (as root) cold, and its peak memory.
bench-mbox:
	tools/need-packages $(BENCH_PACKAGES)
	python3 bench/run_bench.py --mbox

# Copies of the shared PST and OST files (BENCH_PST_MB, 200 by default) listed with
# --PST against readpst -r on each file followed by --MBOX on its output, and
# readpst alone, warm and (as root) cold; then the same over one PST of as many
# megabytes that bench/make_pst.py writes from ../shared/corpus. Skipped, with a
# line saying why, without ../shared/pst, readpst or a build that has --PST.
bench-pst:
	tools/need-packages $(BENCH_PACKAGES)
	python3 bench/run_bench.py --pst
