#pragma once
// How many times a test repeats a round whose outcome hangs on timing or chance (two processes
// racing for a file, a kill at a random moment), and the seed of the rounds that differ from run to
// run.
//
// The plain build runs `rounds`. A sanitized build, where each round costs several times as much and
// the sanitizers find in a few rounds what they find in many, runs a fifth of them (at least two):
// the build sets VELTRANE_FEWER_ROUNDS=1. The thorough tier (VELTRANE_THOROUGH=1) runs them all.

#include <QtGlobal>

namespace veltrane::testsupport {

int Rounds(int rounds);

// $VELTRANE_SEED when set, to repeat the rounds of a run whose seed a failure printed; otherwise a
// fresh one from the system's random source.
quint32 FreshSeed();

} // namespace veltrane::testsupport
