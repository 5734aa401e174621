#pragma once
// RegexObject: filled in by its owner.
