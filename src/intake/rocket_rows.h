#pragma once
// Rocket rows and alerts (OnBarrageData): filled in by its owner.
