#pragma once
// AlertSound: filled in by its owner.
