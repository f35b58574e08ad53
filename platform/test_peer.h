#pragma once

/// The one way a test reaches inside a product class. A class with something a test must
/// see or drive but no user of the class needs (a widget to inspect, a count of grabs) keeps
/// it private and declares `friend struct TestPeer<ThatClass>;`; the test specialises
/// TestPeer<ThatClass> with static accessors. Product code never specialises it, so the
/// product's interfaces stay what their users need.
template <typename Class>
struct TestPeer;
