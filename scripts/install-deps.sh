#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what building and testing dssview needs, if it is missing.
# Debian packages only; safe to run again.
set -euo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
# libcrypto (OpenSSL) decrypts TLS captures: the tool's one run-time library.
[ -f /usr/include/openssl/evp.h ] || need+=(libssl-dev)
command -v xxd >/dev/null || need+=(xxd)
command -v python3 >/dev/null || need+=(python3)
command -v man >/dev/null || need+=(man-db)
command -v groff >/dev/null || need+=(groff)
# The live test captures loopback traffic with tcpdump (skipped without it).
command -v tcpdump >/dev/null || [ -x /usr/sbin/tcpdump ] || need+=(tcpdump)
# Fresh encrypted captures: Derby's Network Server and client on Java, and
# tshark (with editcap) to check the decryption (tests/tls_capture). The same
# Derby packages record the international and comparison captures anew
# (scripts/capture-intl.sh, tests/compare/make_captures.sh).
command -v java >/dev/null || need+=(default-jre-headless)
[ -f /usr/share/java/derbynet.jar ] || need+=(libderby-java)
[ -f /usr/share/java/derbyclient.jar ] || need+=(libderbyclient-java)
[ -f /usr/share/java/derbytools.jar ] || need+=(derby-tools)
command -v tshark >/dev/null || need+=(tshark)
command -v editcap >/dev/null || need+=(wireshark-common)
# The --html page is checked in headless Chromium (skipped without it).
command -v chromium >/dev/null || command -v chromium-headless-shell >/dev/null || need+=(chromium)
if [ "${DSSVIEW_WITH_CLANG:-0}" = 1 ]; then
  command -v clang++ >/dev/null || need+=(clang)
  # libFuzzer's runtime comes with clang only as a recommended package.
  compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null ||
    need+=(libclang-rt-dev)
fi
# Recording new comparison captures (tests/compare/make_captures.sh, the
# compare_fresh_derby test) also compiles a small client with javac.
if [ "${DSSVIEW_WITH_DERBY:-0}" = 1 ]; then
  command -v javac >/dev/null || need+=(default-jdk-headless)
fi
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi
